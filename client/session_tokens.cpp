#include "client/session_tokens.hpp"

#include "common/lowercase_hex.hpp"

namespace quorvex::client {

ClientResult<void> check_session_id(std::string_view session_id) {
    if (session_id.size() == CORE_ID_DIGITS && is_lowercase_hex(session_id)) {
        return {};
    }
    return fail(
        ClientErrorKind::InvalidArgument,
        Error::message("a session ID is 32 lowercase hexadecimal digits, got \"" + std::string(session_id) + "\""));
}

ClientResult<void> check_core_sha256(std::string_view digest) {
    if (digest.size() == CORE_SHA256_DIGITS && is_lowercase_hex(digest)) {
        return {};
    }
    return fail(
        ClientErrorKind::InvalidArgument,
        Error::message("a Core digest is 64 lowercase hexadecimal digits, got \"" + std::string(digest) + "\""));
}

} // namespace quorvex::client
