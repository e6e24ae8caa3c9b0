#pragma once
// A number as the decimal text of a header value (a status, a length), written into the
// caller's buffer: replies format them without allocating.

#include <array>
#include <charconv>
#include <cstddef>
#include <string_view>

namespace quorvex::http {

using DecimalDigits = std::array<char, 24>; // room for any 64-bit value

[[nodiscard]] inline std::string_view decimal(std::size_t value, DecimalDigits& buffer) {
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    return {buffer.data(), static_cast<std::size_t>(end - buffer.data())};
}

} // namespace quorvex::http
