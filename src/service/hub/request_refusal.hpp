#pragma once
// Why a request was not served, and the one error reply each refusal turns into.

#include "service/peer/http/request_handler.hpp"

namespace quorvex::hub {

enum class Refusal {
    no_such_route, // the path names no route
    gate_refusal,
    invalid_ping_query,
    invalid_json_body,
    body_too_large,
    length_required,
    invalid_header,
    wrong_method,
    unsupported_media_type,
    body_read_failure,
};

// The error reply for one refusal.
[[nodiscard]] http::Reply refusal_reply(Refusal refusal);

} // namespace quorvex::hub
