#pragma once
// Lowercase hexadecimal, the form of digests, session IDs, pipe suffixes and status codes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quorvex {

// Two digits per byte, most significant first.
[[nodiscard]] std::string lowercase_hex(std::span<const std::uint8_t> bytes);
// Always eight digits, most significant first.
[[nodiscard]] std::string lowercase_hex(std::uint32_t value);
// Every character is 0-9 or a-f (true for an empty text).
[[nodiscard]] bool is_lowercase_hex(std::string_view text);

} // namespace quorvex
