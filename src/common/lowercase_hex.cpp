#include "common/lowercase_hex.hpp"

namespace quorvex {
namespace {

constexpr std::string_view DIGITS = "0123456789abcdef";

} // namespace

std::string lowercase_hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(2 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        text.push_back(DIGITS[byte >> 4]);
        text.push_back(DIGITS[byte & 0xF]);
    }
    return text;
}

std::string lowercase_hex(std::uint32_t value) {
    std::string text;
    text.reserve(8);
    for (int shift = 28; shift >= 0; shift -= 4) {
        text.push_back(DIGITS[(value >> shift) & 0xF]);
    }
    return text;
}

bool is_lowercase_hex(std::string_view text) { return text.find_first_not_of(DIGITS) == std::string_view::npos; }

} // namespace quorvex
