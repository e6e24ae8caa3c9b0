#pragma once
// How a Core's exit code reads in the log: decimal, or hex once bit 31 is set, since such codes
// are NTSTATUS values (0xc0000005 is an access violation) and mean nothing in decimal.

#include <cstdint>
#include <string>

namespace quorvex::hub {

// "exit code: 0", "exit code: 0xc0000005".
[[nodiscard]] std::string core_exit_code_text(std::uint32_t code);

} // namespace quorvex::hub
