#pragma once
// What the transport asks of the application, the same for HTTP/1.1 and HTTP/2. The handler sees
// the request head first; it reads the body only if it asks for it, so a body it refuses (too
// large, wrong route) is never read. It lives with the transport, which asks it; the router
// implements it, so the router depends on the transport's interface and the transport knows no
// route.

#include "service/peer/http/http_message.hpp"
#include "service/peer/http/pending_route.hpp"

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
