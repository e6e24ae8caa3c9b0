#pragma once
// Writing a reply or a batch of frames in full. A loopback socket's send buffer nearly always
// takes the whole write at once, so it is first tried straight from this thread, and only what
// the socket would not take goes through an asynchronous write: most writes then cost one system
// call and no trip through the io_context.

#include <boost/asio/awaitable.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <span>

namespace quorvex::http {

// Puts the socket in the mode write_all expects (a write never blocks the thread). Done once,
// before the connection's first write; Asio's asynchronous operations are unaffected by it.
void prepare_for_direct_writes(boost::asio::ip::tcp::socket& socket, boost::system::error_code& ec);

// Writes every byte of `buffers` or fails with `ec`. Never cut short
// by a cancellation: a drain waits for the write in progress.
boost::asio::awaitable<void> write_all(boost::asio::ip::tcp::socket& socket,
                                       std::span<const boost::asio::const_buffer> buffers,
                                       boost::system::error_code& ec);

} // namespace quorvex::http
