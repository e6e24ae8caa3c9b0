#pragma once
// ASCII case folding for protocol text (header names, SIDs): A-Z to a-z and nothing else, so no
// locale or Unicode rule can make two different names equal.

#include <algorithm>
#include <string_view>

namespace quorvex {

[[nodiscard]] constexpr char ascii_lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Same length and equal bytes once A-Z are folded on both sides.
[[nodiscard]] constexpr bool equals_ascii_nocase(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

} // namespace quorvex
