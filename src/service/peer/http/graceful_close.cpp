#include "service/peer/http/graceful_close.hpp"

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <array>
#include <memory>

namespace quorvex::http {

boost::asio::awaitable<void> close_gracefully(boost::asio::ip::tcp::socket& socket)
{
    boost::system::error_code ec;
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_send, ec);
    {
        const auto strand = co_await boost::asio::this_coro::executor;
        // The expiry may already be queued when reading ends; `finished` keeps it off the socket.
        auto finished = std::make_shared<bool>(false);
        boost::asio::steady_timer limit(strand, LINGER_TIME);
        limit.async_wait(boost::asio::bind_executor(strand, [&socket, finished](boost::system::error_code waited) {
            if (!waited && !*finished) {
                boost::system::error_code ignored;
                socket.cancel(ignored);
            }
        }));
        std::array<char, 4096> scratch;
        std::size_t dropped = 0;
        while (dropped < LINGER_BYTES) {
            const auto n = co_await socket.async_read_some(
                boost::asio::buffer(scratch), boost::asio::redirect_error(boost::asio::use_awaitable, ec));
            if (ec) {
                break;
            }
            dropped += n;
        }
        *finished = true;
        limit.cancel();
    }
    socket.close(ec);
}

} // namespace quorvex::http
