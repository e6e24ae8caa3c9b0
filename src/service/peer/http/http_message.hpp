#pragma once
// What travels between the transport and the request handler, the same for HTTP/1.1 and HTTP/2:
// the request head, the reply, and the body, read only when the handler asks for it.

#include "common/error.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/container/small_vector.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

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

// A reply's headers are the helper's own constants: the constructor only takes text known at
// compile time, so the views never dangle and a reply copies no header bytes.
class ReplyHeader {
public:
    consteval ReplyHeader(std::string_view name, std::string_view value) : name_(name), value_(value) {}
    [[nodiscard]] std::string_view name() const noexcept { return name_; }
    [[nodiscard]] std::string_view value() const noexcept { return value_; }
    friend bool operator==(const ReplyHeader&, const ReplyHeader&) = default;

private:
    std::string_view name_;
    std::string_view value_;
};

using ReplyHeaders = boost::container::small_vector<ReplyHeader, 4>;

// A reply's body: bytes of its own, or a share of immutable text that many replies send at once
// (the log's joined lines), which no reply then copies.
class ReplyBody {
public:
    ReplyBody() = default;
    // Implicit, so that a body is written as the text it holds.
    ReplyBody(std::string own) noexcept : own_(std::move(own)) {} // NOLINT(google-explicit-constructor)
    ReplyBody(const char* own) : own_(own) {}                     // NOLINT(google-explicit-constructor)
    explicit ReplyBody(std::shared_ptr<const std::string> shared) noexcept : shared_(std::move(shared)) {}

    [[nodiscard]] std::string_view view() const noexcept { return shared_ ? std::string_view(*shared_) : own_; }
    [[nodiscard]] std::size_t size() const noexcept { return view().size(); }
    [[nodiscard]] bool empty() const noexcept { return size() == 0; }
    friend bool operator==(const ReplyBody& body, std::string_view text) noexcept { return body.view() == text; }

private:
    std::string own_;
    std::shared_ptr<const std::string> shared_;
};

// NOLINTNEXTLINE(bugprone-exception-escape): moves cannot throw; small_vector does not say so
struct Reply {
    unsigned status = 200;
    ReplyHeaders headers; // "connection: close" makes HTTP/1.1 close; HTTP/2 drops it
    ReplyBody body;
};

class BodyReader {
public:
    virtual ~BodyReader() = default;
    // Reads the whole request body. Fails when the stream breaks or more than `limit` bytes arrive.
    virtual boost::asio::awaitable<Result<std::string>> read_body(std::size_t limit) = 0;
};

} // namespace quorvex::http
