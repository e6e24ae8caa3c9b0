#pragma once
// One keep-alive HTTP/1.1 connection to the helper, opened only to a listener that the TCP table
// shows to be the helper service's, and kept only while the server's end of the connection is
// too (Windows only; internal to the client).

#include "client/api_replies.hpp"
#include "client/helper_service.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/verb.hpp>

#include <memory>
#include <string>
#include <string_view>

namespace quorvex::client {

// A request that got no reply: `before_reply` when not one byte of a reply arrived (the helper
// closed the connection: a refusal on a new connection, an idle close on a used one);
// `malformed` when what arrived is no reply the helper sends (too large, not HTTP).
struct ExchangeFailure {
    bool before_reply = false;
    bool malformed = false;
    Error error;
};

class HelperConnection {
public:
    // Checks the listener, connects, checks the server's end of this connection, and that the
    // service's process is still the one `endpoint` names. No byte is sent before all passed.
    [[nodiscard]] static ClientResult<std::unique_ptr<HelperConnection>> open(const HelperEndpoint& endpoint,
                                                                              HelperSystem& system);
    ~HelperConnection();
    HelperConnection(const HelperConnection&) = delete;
    HelperConnection& operator=(const HelperConnection&) = delete;

    // One request and its whole reply.
    [[nodiscard]] std::expected<HttpReply, ExchangeFailure> exchange(boost::beast::http::verb method,
                                                                     std::string_view target, std::string body);
    // Whether a request has gone over this connection already.
    [[nodiscard]] bool used() const { return used_; }
    // False once a reply or a failure ended the connection: the next request needs a new one.
    [[nodiscard]] bool reusable() const { return reusable_; }

private:
    explicit HelperConnection(std::uint16_t port);

    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    boost::beast::flat_buffer buffer_;
    std::uint16_t port_;
    bool used_ = false;
    bool reusable_ = true;
};

} // namespace quorvex::client
