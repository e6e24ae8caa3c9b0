#pragma once
// The task of one accepted connection: detect the protocol from its first bytes, then serve it
// as HTTP/1.1 or HTTP/2 until it ends. Every failure stays inside this task.

#include "service/hub/request_handler.hpp"
#include "service/peer/http/shutdown_watch.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <memory>

namespace quorvex::http {

// Runs on the strand of `watch`; never throws; the socket is closed when it returns.
boost::asio::awaitable<void> serve_connection(boost::asio::ip::tcp::socket socket,
                                              std::shared_ptr<RequestHandler> handler,
                                              std::shared_ptr<ShutdownWatch> watch);

} // namespace quorvex::http
