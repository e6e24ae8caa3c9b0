#pragma once
// The one place where a failed command is printed, and the exit statuses of a command.

#include "common/error.hpp"

#include <ostream>

namespace quorvex::command {

inline constexpr int EXIT_STATUS_SUCCESS = 0;
inline constexpr int EXIT_STATUS_FAILURE = 1;

// "Error: <outermost>", then, when there are causes, an empty line, "Caused by:" and one line
// per cause: indented by four spaces when there is one, "{index:>5}: <text>" when there are more.
void report_failure(const Error& error, std::ostream& out);

// Reports a failed outcome to `out`; the process exit status for the outcome.
[[nodiscard]] int finish_command(const Result<void>& outcome, std::ostream& out);

} // namespace quorvex::command
