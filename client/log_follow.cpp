#include "client/log_follow.hpp"

#include <algorithm>

namespace quorvex::client {

std::vector<std::string> log_lines(std::string_view text) {
    std::vector<std::string> lines;
    if (text.empty()) {
        return lines;
    }
    for (std::size_t begin = 0;;) {
        const std::size_t end = text.find('\n', begin);
        lines.emplace_back(text.substr(begin, end - begin));
        if (end == std::string_view::npos) {
            return lines;
        }
        begin = end + 1;
    }
}

std::vector<std::string> new_log_lines(const std::vector<std::string>& previous,
                                       const std::vector<std::string>& current) {
    for (std::size_t overlap = std::min(previous.size(), current.size()); overlap > 0; --overlap) {
        if (std::equal(previous.end() - static_cast<std::ptrdiff_t>(overlap), previous.end(), current.begin())) {
            return {current.begin() + static_cast<std::ptrdiff_t>(overlap), current.end()};
        }
    }
    return current;
}

} // namespace quorvex::client
