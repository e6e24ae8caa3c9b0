#pragma once
// What the transport hands to the application and takes back, the same for HTTP/1.1 and HTTP/2.
// The handler sees the request head first; it reads the body only if it asks for it, so a body
// it refuses (too large, wrong route) is never read. It lives with the router, which implements
// it, so the transport depends on the router and never the other way round.

#include "common/error.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/container/small_vector.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace quorvex::http {

struct Header {
    std::string name;  // as received (HTTP/2 names arrive in lower case)
    std::string value; // raw bytes, not validated by the transport
};

// Requests and replies carry a handful of headers: they are kept inline, not on the heap.
using Headers = boost::container::small_vector<Header, 6>;

// NOLINTNEXTLINE(bugprone-exception-escape): moves cannot throw; small_vector does not say so
struct RequestHead {
    std::string method;
    std::string target; // origin form: path, optionally "?" and the query
    Headers headers;    // in arrival order; HTTP/2 pseudo-headers are not included
};

// NOLINTNEXTLINE(bugprone-exception-escape): moves cannot throw; small_vector does not say so
struct Reply {
    unsigned status = 200;
    Headers headers; // "connection: close" makes HTTP/1.1 close; HTTP/2 drops it
    std::string body;
};

class BodyReader {
public:
    virtual ~BodyReader() = default;
    // Reads the whole request body. Fails when the stream breaks or more than `limit` bytes arrive.
    virtual boost::asio::awaitable<Result<std::string>> read_body(std::size_t limit) = 0;
};

// What the handler made of a head it could not answer at once: which of its routes, and the one
// value that route takes from the head. The transport hands it back to handle() untouched, so a
// head is read once.
struct ParsedRoute {
    unsigned route = 0;
    std::string argument;
};

// The reply the head alone decides, or the route handle() goes on with.
using HeadDecision = std::variant<Reply, ParsedRoute>;

class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // The reply when the head alone decides it, with no body to read and nothing to wait for
    // (a refusal, a reply from memory); otherwise the parsed route for handle(). The transport
    // asks this first for every request, so a request answered at once costs no coroutine.
    virtual HeadDecision answer_at_once(const RequestHead&) { return ParsedRoute{}; }
    // Called with the route answer_at_once gave for this head. Never fails: every refusal is a
    // reply.
    virtual boost::asio::awaitable<Reply> handle(RequestHead head, ParsedRoute route, BodyReader& body) = 0;
};

} // namespace quorvex::http
