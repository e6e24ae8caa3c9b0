#pragma once
// UTF-8 and UTF-16 conversions shared by the command line, the relay and the Win32 adapters.
// Portable: Windows wide strings are passed as std::u16string_view.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// Length of the valid UTF-8 sequence at the start of `bytes`, or 0 if it is not one
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
[[nodiscard]] std::size_t utf8_sequence_length(std::string_view bytes);
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);
// Every maximal invalid subpart becomes U+FFFD.
[[nodiscard]] std::string utf8_lossy(std::string_view bytes);

// Strict: nothing when the text holds an unpaired surrogate.
[[nodiscard]] std::optional<std::string> utf16_to_utf8(std::u16string_view text);
// Unpaired surrogates become U+FFFD.
[[nodiscard]] std::string utf16_to_utf8_lossy(std::u16string_view text);
// The input must be valid UTF-8; invalid sequences become U+FFFD.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view text);

} // namespace quorvex
