#pragma once
// `logs --follow`: the helper keeps only its last 100 lines and numbers none, so the lines that
// are new in a later read are those after the longest overlap between the end of the earlier
// read and the start of the later one.

#include <string>
#include <string_view>
#include <vector>

namespace quorvex::client {

// The lines of a logs reply (joined by line feeds, none after the last); an empty body has none.
[[nodiscard]] std::vector<std::string> log_lines(std::string_view text);

// The lines of `current` that `previous` did not show yet.
[[nodiscard]] std::vector<std::string> new_log_lines(const std::vector<std::string>& previous,
                                                     const std::vector<std::string>& current);

} // namespace quorvex::client
