#include "service/peer/http/socket_write.hpp"

#include <boost/asio/bind_allocator.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/recycling_allocator.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

namespace quorvex::http {
namespace {

// Drops the first `written` bytes from the views; returns the views still holding bytes.
std::span<boost::asio::const_buffer> advance(std::span<boost::asio::const_buffer> buffers, std::size_t written) {
    while (!buffers.empty() && written >= buffers.front().size()) {
        written -= buffers.front().size();
        buffers = buffers.subspan(1);
    }
    if (!buffers.empty()) {
        buffers.front() += written;
    }
    return buffers;
}

} // namespace

void prepare_for_direct_writes(boost::asio::ip::tcp::socket& socket, boost::system::error_code& ec) {
    socket.non_blocking(true, ec);
}

boost::asio::awaitable<void> write_all(boost::asio::ip::tcp::socket& socket,
                                       std::span<boost::asio::const_buffer> buffers, boost::system::error_code& ec) {
    ec.clear();
    const std::size_t written = socket.write_some(buffers, ec);
    if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
        ec.clear();
    }
    buffers = advance(buffers, written);
    if (ec || buffers.empty()) {
        co_return;
    }
    co_await boost::asio::async_write(
        socket, buffers,
        boost::asio::bind_allocator(
            boost::asio::recycling_allocator<void>(),
            boost::asio::bind_cancellation_slot(boost::asio::cancellation_slot(),
                                                boost::asio::redirect_error(boost::asio::use_awaitable, ec))));
}

} // namespace quorvex::http
