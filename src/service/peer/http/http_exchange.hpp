#pragma once
// What the transport hands to the application and takes back, the same for HTTP/1.1 and HTTP/2.
// The handler sees the request head first; it reads the body only if it asks for it, so a body
// it refuses (too large, wrong route) is never read.

#include "common/error.hpp"

#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quorvex::http {

struct Header {
    std::string name;  // as received (HTTP/2 names arrive in lower case)
    std::string value; // raw bytes, not validated by the transport
};

struct RequestHead {
    std::string method;
    std::string target;          // origin form: path, optionally "?" and the query
    std::vector<Header> headers; // in arrival order; HTTP/2 pseudo-headers are not included
};

struct Reply {
    unsigned status = 200;
    std::vector<Header> headers; // "connection: close" makes HTTP/1.1 close; HTTP/2 drops it
    std::string body;
};

class BodyReader {
public:
    virtual ~BodyReader() = default;
    // Reads the whole request body. Fails when the stream breaks or more than `limit` bytes arrive.
    virtual boost::asio::awaitable<Result<std::string>> read_body(std::size_t limit) = 0;
};

class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // Never fails: every refusal is a reply.
    virtual boost::asio::awaitable<Reply> handle(RequestHead head, BodyReader& body) = 0;
};

} // namespace quorvex::http
