#include "service/hub/request_refusal.hpp"

#include "service/hub/helper_replies.hpp"
#include "service/hub/request_body.hpp"

#include <string>

namespace quorvex::hub {

http::Reply refusal_reply(Refusal refusal) {
    switch (refusal) {
    case Refusal::no_such_route:
        return error_reply({404, "notFound", "Helper endpoint not found", {}});
    case Refusal::gate_refusal:
        return with_connection_close(invalid_request(403, "browser origins and non-local hosts are not allowed"));
    case Refusal::invalid_ping_query:
        return with_protocol_header(invalid_request(400, "invalid ping query"));
    case Refusal::invalid_json_body:
        return invalid_request(400, "invalid JSON request body");
    case Refusal::body_too_large:
        return with_connection_close(
            invalid_request(413, "request body exceeds " + std::to_string(BODY_LIMIT) + " bytes"));
    case Refusal::length_required:
        return invalid_request(411, "request body length is required");
    case Refusal::invalid_header:
        return invalid_request(400, "invalid request header");
    case Refusal::wrong_method:
        return invalid_request(405, "Helper endpoint does not accept this method");
    case Refusal::unsupported_media_type:
    case Refusal::body_read_failure:
        break;
    }
    return error_reply({500, "internalError", "unhandled Helper request rejection", {}});
}

} // namespace quorvex::hub
