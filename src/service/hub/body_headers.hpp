#pragma once
// The headers that decide whether a start or stop body is read at all: its declared length
// and its media type. Both are judged before any body byte arrives.

#include "service/hub/request_handler.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace quorvex::hub {

// The "content-length" value; nothing when it is missing, not a decimal number, or repeated
// with another value. A value beyond 64 bits reads as the largest one (it is too large anyway).
[[nodiscard]] std::optional<std::uint64_t> declared_body_length(const http::Headers& headers);

// True when no "Content-Type" is given or every one is visible ASCII, parses as a media type and
// names application/json (case-insensitive, any parameters).
[[nodiscard]] bool accepts_json_content_type(const http::Headers& headers);

} // namespace quorvex::hub
