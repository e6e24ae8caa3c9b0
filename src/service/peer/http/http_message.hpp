#pragma once
// What travels between the transport and the request handler, the same for HTTP/1.1 and HTTP/2:
// the request head, the reply, and the body, read only when the handler asks for it.

#include "common/error.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/container/small_vector.hpp>

#include <cstddef>
#include <string>

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

} // namespace quorvex::http
