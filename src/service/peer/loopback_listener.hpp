#pragma once
// The helper's listening socket: IPv4 loopback only, port chosen by the system.

#include "common/error.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace quorvex::peer {

inline constexpr int LISTEN_BACKLOG = 128;

// On Windows the socket is created without handle inheritance, so a Core launched with inherited
// handles never holds the helper's listener.
[[nodiscard]] Result<boost::asio::ip::tcp::acceptor> open_loopback_listener(const boost::asio::any_io_executor& executor);

} // namespace quorvex::peer
