// The command line as the process gets it: split, converted, and a command chosen. Arguments
// quoted the way the installation registers them must come back unchanged.

#include "command/helper_command.hpp"
#include "command/helper_command.hpp"
#include "common/utf.hpp"
#include "service/windows/service_installation.hpp"

#include "fuzz_check.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace quorvex;

namespace {

// Pairs of bytes as UTF-16 code units, so any unit (unpaired surrogates included) can occur.
std::u16string as_utf16(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    return text;
}

// The whole choice, on any arguments: never throws, and a chosen command holds checked values.
void check_choice(const std::vector<std::string>& args) {
    const auto chosen = command::choose_helper_command(args);
    if (!chosen) {
        FUZZ_CHECK(chosen.error().links().size() == 1);
        return;
    }
    if (const auto* run = std::get_if<command::RunService>(&*chosen)) {
        FUZZ_CHECK(command::is_valid_sid_text(run->owner_sid));
    }
    if (const auto* install = std::get_if<command::Install>(&*chosen)) {
        FUZZ_CHECK(install->owner_pid != 0);
    }
}

// Arguments cut from the input at NUL bytes, made valid UTF-8, quoted and joined behind a
// program path: splitting gives exactly those arguments back. Empty ones are left out: the
// registered arguments (path, option, SID) never are, and quoting keeps an empty text empty.
void check_quoting_round_trip(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    std::erase_if(args, [](const std::string& arg) { return arg.empty(); });
    std::string line = service::quote_service_argument("C:\\Program Files\\Quorvex\\QuorvexHelper.exe");
    for (auto& arg : args) {
        arg = utf8_lossy(arg);
        line += ' ' + service::quote_service_argument(arg);
    }
    FUZZ_CHECK(command::helper_arguments(utf8_to_utf16(line)) == args);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string line = as_utf16(data, size);
    const auto all = command::split_command_line(line);
    FUZZ_CHECK(!all.empty()); // the program path, even when empty
    const auto args = command::helper_arguments(line);
    FUZZ_CHECK(args.size() + 1 == all.size());
    for (const auto& arg : args) {
        FUZZ_CHECK(is_valid_utf8(arg));
    }
    check_choice(args);

    check_quoting_round_trip(data, size);
    return 0;
}
