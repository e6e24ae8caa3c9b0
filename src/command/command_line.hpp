#pragma once
// The process command line, split the way the Microsoft C runtime splits it, so that the
// arguments we compare are the ones the Service Control Manager and a shell meant to pass.

#include <string>
#include <string_view>
#include <vector>

namespace quorvex::command {

// Every argument, the executable's own path first.
[[nodiscard]] std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// The arguments after the executable's path, as UTF-8. Unpaired surrogates become U+FFFD, so
// such an argument never equals a literal of ours nor passes as a SID.
[[nodiscard]] std::vector<std::string> helper_arguments(std::u16string_view command_line);

} // namespace quorvex::command
