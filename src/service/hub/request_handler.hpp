#pragma once
// What the transport asks of the application, the same for HTTP/1.1 and HTTP/2. The handler sees
// the request head first; it reads the body only if it asks for it, so a body it refuses (too
// large, wrong route) is never read. It lives with the router, which implements it, so the
// transport depends on the router and never the other way round.

#include "service/hub/http_message.hpp"
#include "service/hub/pending_route.hpp"

#include <variant>

namespace quorvex::http {

// The reply the head alone decides, or the route that goes on with the body.
using HeadDecision = std::variant<Reply, PendingRoute>;

class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // The reply when the head alone decides it, with no body to read and nothing to wait for
    // (a refusal, a reply from memory); otherwise the route the head chose, which the transport
    // runs with the head and the body. The transport asks this first for every request, so a
    // request answered at once costs no coroutine. Never fails: every refusal is a reply.
    virtual HeadDecision answer_at_once(const RequestHead&) = 0;
};

} // namespace quorvex::http
