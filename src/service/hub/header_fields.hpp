#pragma once
// Reading request header fields the way HTTP means them: names case-insensitive, values as
// raw bytes that the transport has not validated.

#include "service/hub/request_handler.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace quorvex::hub {

// Equal after mapping A-Z to a-z on both sides; other bytes compare as they are.
[[nodiscard]] bool equals_ascii_nocase(std::string_view a, std::string_view b);
// Every byte is a horizontal tab or in 0x20..0x7E.
[[nodiscard]] bool is_visible_ascii(std::string_view value);
// The value of the first header with this name, if any.
[[nodiscard]] std::optional<std::string_view> first_header(const http::Headers& headers,
                                                           std::string_view name);
// The values of every header with this name, in arrival order.
[[nodiscard]] std::vector<std::string_view> all_headers(const http::Headers& headers,
                                                        std::string_view name);

} // namespace quorvex::hub
