#include "service/peer/http/socket_write.hpp"

#include "service/peer/http/recycled.hpp"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffer_traits.hpp>
#include <boost/beast/core/buffers_suffix.hpp>

namespace quorvex::http {

void prepare_for_direct_writes(boost::asio::ip::tcp::socket& socket, boost::system::error_code& ec) {
    socket.non_blocking(true, ec);
}

boost::asio::awaitable<void> write_all(boost::asio::ip::tcp::socket& socket,
                                       std::span<const boost::asio::const_buffer> buffers,
                                       boost::system::error_code& ec) {
    ec.clear();
    const std::size_t written = socket.write_some(buffers, ec);
    if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
        ec.clear();
    }
    boost::beast::buffers_suffix<std::span<const boost::asio::const_buffer>> rest(buffers);
    rest.consume(written);
    if (ec || boost::beast::buffer_bytes(rest) == 0) {
        co_return;
    }
    co_await boost::asio::async_write(
        socket, rest,
        recycled(boost::asio::bind_cancellation_slot(boost::asio::cancellation_slot(),
                                                     boost::asio::redirect_error(boost::asio::use_awaitable, ec))));
}

} // namespace quorvex::http
