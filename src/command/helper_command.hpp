#pragma once
// A command of the executable, from its command line to its exit status: the command line split
// the way the Microsoft C runtime splits it (so that the arguments we compare are the ones the
// Service Control Manager and a shell meant to pass), the command chosen from the arguments
// alone with the checks of the two values a command line carries, and the one place where a
// failed command is printed.

#include "common/error.hpp"

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvex::command {

// Every argument, the executable's own path first.
[[nodiscard]] std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// The arguments after the executable's path, as UTF-8. Unpaired surrogates become U+FFFD, so
// such an argument never equals a literal of ours nor passes as a SID.
[[nodiscard]] std::vector<std::string> helper_arguments(std::u16string_view command_line);

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

inline constexpr int EXIT_STATUS_SUCCESS = 0;
inline constexpr int EXIT_STATUS_FAILURE = 1;

// "Error: <outermost>", then, when there are causes, an empty line, "Caused by:" and one line
// per cause: indented by four spaces when there is one, "{index:>5}: <text>" when there are more.
void report_failure(const Error& error, std::ostream& out);

// Reports a failed outcome to `out`; the process exit status for the outcome.
[[nodiscard]] int finish_command(const Result<void>& outcome, std::ostream& out);

} // namespace quorvex::command
