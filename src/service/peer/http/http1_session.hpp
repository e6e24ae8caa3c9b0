#pragma once
// One HTTP/1.1 connection: requests one after another (keep-alive), each head handed to the
// handler before any body byte is read. Closes after a reply when the handler left body bytes
// unread, when either side asked for "connection: close", after a malformed request, and, once
// a drain is requested, when idle or after the reply in progress.

#include "service/hub/request_handler.hpp"
#include "service/peer/http/shutdown_watch.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstddef>
#include <string_view>

namespace quorvex::http {

inline constexpr std::size_t HTTP1_HEADER_LIMIT = 16 * 1024;
inline constexpr std::size_t HTTP1_READ_BUFFER_LIMIT = 64 * 1024;

// Runs on the connection's strand until the connection is done; the socket is closed on return.
// `first_bytes` are the bytes protocol detection has already read.
boost::asio::awaitable<void> serve_http1(boost::asio::ip::tcp::socket& socket, std::string_view first_bytes,
                                         RequestHandler& handler, ShutdownWatch& watch);

} // namespace quorvex::http
