#pragma once
// The two texts a start request names: the Core's pipe address and the client's session ID.

#include <cstddef>
#include <string_view>

namespace quorvex::hub {

// Two backslashes, a full stop, a backslash, "pipe", a backslash, "QuorvexCore_": 21 bytes.
inline constexpr std::string_view CORE_PIPE_PREFIX = "\\\\.\\pipe\\QuorvexCore_";
// Session IDs and the address suffix: this many lowercase hexadecimal digits.
inline constexpr std::size_t CORE_ID_DIGITS = 32;

// The prefix followed by exactly 32 lowercase hexadecimal digits; case-sensitive throughout.
[[nodiscard]] bool validate_core_address(std::string_view address);
// Exactly 32 lowercase hexadecimal digits.
[[nodiscard]] bool validate_session_id(std::string_view session_id);

} // namespace quorvex::hub
