#include "service/hub/core_exit_code.hpp"

namespace quorvex::hub {

std::string core_exit_code_text(std::uint32_t code) {
    if ((code & 0x8000'0000u) == 0) return "exit code: " + std::to_string(code);
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (int shift = 28; shift >= 0; shift -= 4) hex += DIGITS[(code >> shift) & 0xF];
    return "exit code: 0x" + hex;
}

} // namespace quorvex::hub
