#pragma once
// Closing a connection that may still hold unread request bytes. A plain close would answer
// those bytes with a reset, and a reset can destroy the reply the client has not read yet; so
// the send side is shut first and what the peer still sends is read and dropped, for a bounded
// time and amount, before the socket closes.

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>

namespace quorvex::http {

inline constexpr std::chrono::milliseconds LINGER_TIME{1000};
inline constexpr std::size_t LINGER_BYTES = 256 * 1024;

// Runs on the connection's strand; never throws.
boost::asio::awaitable<void> close_gracefully(boost::asio::ip::tcp::socket& socket);

} // namespace quorvex::http
