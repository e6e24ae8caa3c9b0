#pragma once
// One HTTP/2 connection on a socket: a reader feeding the session, a writer sending what it
// yields, and one coroutine per request stream running the handler.

#include "service/hub/request_handler.hpp"
#include "service/peer/http/shutdown_watch.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <memory>
#include <string_view>

namespace quorvex::http {

// Runs on the connection's strand until the protocol is finished or the peer is gone and every
// stream's handler has ended; the socket is closed on return. `first_bytes` are the bytes
// protocol detection has already read (the preface, perhaps more).
boost::asio::awaitable<void> serve_http2(boost::asio::ip::tcp::socket& socket, std::string_view first_bytes,
                                         std::shared_ptr<RequestHandler> handler, ShutdownWatch& watch);

} // namespace quorvex::http
