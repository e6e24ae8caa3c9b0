#pragma once
// The two secrets of a start: the session ID, which is what stops the Core, and the pipe suffix,
// which names the Core's pipe. Whoever guesses either can stop the Core or reach its pipe first,
// so both come from the system's cryptographic generator, never from a clock or a counter.

#include "client/client_error.hpp"
#include "common/helper_contract.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex::client {

inline constexpr std::size_t TOKEN_BYTES = 16;
static_assert(2 * TOKEN_BYTES == CORE_ID_DIGITS);

struct SessionTokens {
    std::string session_id; // 32 lowercase hex digits
    std::string address;    // CORE_PIPE_PREFIX and 32 lowercase hex digits
};

// Checks a caller's session ID or Core digest before it is sent: InvalidArgument otherwise.
[[nodiscard]] ClientResult<void> check_session_id(std::string_view session_id);
[[nodiscard]] ClientResult<void> check_core_sha256(std::string_view digest);

// Sixteen bytes each from BCryptGenRandom (Windows only).
[[nodiscard]] ClientResult<SessionTokens> draw_session_tokens();

} // namespace quorvex::client
