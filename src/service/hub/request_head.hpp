#pragma once
// What the router reads from a request head, before any body byte: header fields the way HTTP
// means them (names case-insensitive, values as raw bytes the transport has not validated), the
// gate, the headers that decide whether a start or stop body is read at all, and the ping query.

#include "common/ascii_case.hpp"
#include "common/helper_contract.hpp"
#include "service/peer/http/request_handler.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvex::hub {

// Every byte is a horizontal tab or in 0x20..0x7E.
[[nodiscard]] bool is_visible_ascii(std::string_view value);
// The value of the first header with this name, if any.
[[nodiscard]] std::optional<std::string_view> first_header(const http::Headers& headers, std::string_view name);
// The values of every header with this name, in arrival order.
[[nodiscard]] std::vector<std::string_view> all_headers(const http::Headers& headers, std::string_view name);

// The gate runs on every request before any route: no browser origin, and a "host" that names
// this machine or the helper service. It looks at nothing but those two headers.

// Host names that count as local, compared ASCII case-insensitively. No IPv6 form on purpose.
inline constexpr std::array<std::string_view, 3> LOCAL_HOST_NAMES = {"127.0.0.1", "localhost", HELPER_SERVICE_NAME};

struct GatePass {};
// A browser origin or a non-local host.
struct GateRefusal {};
// "origin" or "host" holds a byte that is not visible ASCII.
struct InvalidGateHeader {};
using GateOutcome = std::variant<GatePass, GateRefusal, InvalidGateHeader>;

[[nodiscard]] GateOutcome check_request_gate(const http::Headers& headers);

// The "content-length" value; nothing when it is missing, not a decimal number, or repeated
// with another value. A value beyond 64 bits reads as the largest one (it is too large anyway).
[[nodiscard]] std::optional<std::uint64_t> declared_body_length(const http::Headers& headers);

// True when no "Content-Type" is given or every one is visible ASCII, parses as a media type and
// names application/json (case-insensitive, any parameters).
[[nodiscard]] bool accepts_json_content_type(const http::Headers& headers);

// The URL query of a ping request, read as form data.
struct PingQuery {
    std::string core_sha256;
};

// Decodes one form-data component: "+" becomes a blank, "%" and two hex digits become that
// byte (any other "%" stays), and invalid UTF-8 in the result becomes U+FFFD.
[[nodiscard]] std::string decode_form_component(std::string_view text);

// Given the request target; nothing when the query is unreadable (a missing, repeated or
// unknown name).
[[nodiscard]] std::optional<PingQuery> read_ping_query(std::string_view target);

} // namespace quorvex::hub
