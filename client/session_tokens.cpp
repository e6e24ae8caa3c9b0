#include "client/session_tokens.hpp"

namespace quorvex::client {

std::string lowercase_hex(std::span<const std::uint8_t> bytes) {
    constexpr std::string_view DIGITS = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        text.push_back(DIGITS[byte >> 4]);
        text.push_back(DIGITS[byte & 0xF]);
    }
    return text;
}

bool is_lowercase_hex(std::string_view text, std::size_t length) {
    return text.size() == length && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

ClientResult<void> check_session_id(std::string_view session_id) {
    if (is_lowercase_hex(session_id, SESSION_ID_LENGTH)) return {};
    return fail(
        ClientErrorKind::InvalidArgument,
        Error::message("a session ID is 32 lowercase hexadecimal digits, got \"" + std::string(session_id) + "\""));
}

ClientResult<void> check_core_sha256(std::string_view digest) {
    if (is_lowercase_hex(digest, CORE_SHA256_LENGTH)) return {};
    return fail(
        ClientErrorKind::InvalidArgument,
        Error::message("a Core digest is 64 lowercase hexadecimal digits, got \"" + std::string(digest) + "\""));
}

} // namespace quorvex::client
