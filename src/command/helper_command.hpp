#pragma once
// What the executable is asked to do, chosen from its arguments alone, and the checks of the
// two values a command line carries.

#include "common/error.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace quorvex::command {

// Become the service for this owner (the SID text exactly as written).
struct RunService {
    std::string owner_sid;
    friend bool operator==(const RunService&, const RunService&) = default;
};
// Install the service for the account of this process (never 0).
struct Install {
    std::uint32_t owner_pid = 0;
    friend bool operator==(const Install&, const Install&) = default;
};
struct Uninstall {
    friend bool operator==(const Uninstall&, const Uninstall&) = default;
};
using HelperCommand = std::variant<RunService, Install, Uninstall>;

// "S-1-" then 1 to 16 dash-separated groups of ASCII digits; the text must be valid UTF-8.
[[nodiscard]] bool is_valid_sid_text(std::string_view text);
// A decimal number in 1..2^32-1, ASCII digits with at most one leading "+".
[[nodiscard]] std::optional<std::uint32_t> parse_owner_pid(std::string_view text);

// The arguments after the executable's path; a usage failure is a single-link error.
[[nodiscard]] Result<HelperCommand> choose_helper_command(std::span<const std::string> args);

} // namespace quorvex::command
