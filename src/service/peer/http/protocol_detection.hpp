#pragma once
// Which protocol a cleartext connection speaks, decided from its first bytes: HTTP/2 clients with
// prior knowledge open with the fixed connection preface, everything else is HTTP/1.1.

#include <string_view>

namespace quorvex::http {

inline constexpr std::string_view HTTP2_PREFACE = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";

enum class WireProtocol { undecided, http1, http2 };

// Decides at the first byte that differs from the preface, so a short HTTP/1.1 request never
// waits for 24 bytes; `undecided` while every byte so far matches and the preface is incomplete.
[[nodiscard]] WireProtocol detect_protocol(std::string_view first_bytes);

} // namespace quorvex::http
