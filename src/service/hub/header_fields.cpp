#include "service/hub/header_fields.hpp"

#include <algorithm>

namespace quorvex::hub {
namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

bool equals_ascii_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

bool is_visible_ascii(std::string_view value) {
    return std::all_of(value.begin(), value.end(), [](char c) { return c == '\t' || (c >= 0x20 && c <= 0x7E); });
}

std::optional<std::string_view> first_header(const http::Headers& headers, std::string_view name) {
    for (const auto& header : headers)
        if (equals_ascii_nocase(header.name, name)) return std::string_view(header.value);
    return std::nullopt;
}

std::vector<std::string_view> all_headers(const http::Headers& headers, std::string_view name) {
    std::vector<std::string_view> values;
    for (const auto& header : headers)
        if (equals_ascii_nocase(header.name, name)) values.emplace_back(header.value);
    return values;
}

} // namespace quorvex::hub
