#pragma once
// The URL query of a ping request, read as form data.

#include <optional>
#include <string>
#include <string_view>

namespace quorvex::hub {

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
