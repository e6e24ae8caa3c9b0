#include "service/peer/http/served_connection.hpp"

#include "common/helper_log.hpp"
#include "service/peer/http/deadline_thread.hpp"
#include "service/peer/http/socket_write.hpp"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <array>
#include <exception>
#include <string>

namespace quorvex::http {

WireProtocol detect_protocol(std::string_view first_bytes) {
    const auto compared = std::min(first_bytes.size(), HTTP2_PREFACE.size());
    if (first_bytes.substr(0, compared) != HTTP2_PREFACE.substr(0, compared)) {
        return WireProtocol::http1;
    }
    return compared == HTTP2_PREFACE.size() ? WireProtocol::http2 : WireProtocol::undecided;
}

boost::asio::awaitable<void> close_gracefully(boost::asio::ip::tcp::socket& socket) {
    boost::system::error_code ec;
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_send, ec);
    {
        const auto strand = co_await boost::asio::this_coro::executor;
        // The expiry may already be posted when reading ends; `finished` keeps it off the socket.
        auto finished = std::make_shared<bool>(false);
        const auto limit =
            process_deadline_thread().at(DeadlineThread::Clock::now() + LINGER_TIME, [&socket, finished, strand] {
                boost::asio::post(strand, [&socket, finished] {
                    if (!*finished) {
                        boost::system::error_code ignored;
                        socket.cancel(ignored);
                    }
                });
            });
        std::array<char, 4096> scratch;
        std::size_t dropped = 0;
        while (dropped < LINGER_BYTES) {
            // Bound to no cancellation slot: a drain does not cut the linger short.
            const auto n = co_await socket.async_read_some(
                boost::asio::buffer(scratch),
                boost::asio::bind_cancellation_slot(boost::asio::cancellation_slot(),
                                                    boost::asio::redirect_error(boost::asio::use_awaitable, ec)));
            if (ec) {
                break;
            }
            dropped += n;
        }
        *finished = true;
    }
    socket.close(ec);
}

namespace {

// Reads until the first bytes decide the protocol; undecided when the peer leaves first or a
// drain ends the wait of the still silent connection.
boost::asio::awaitable<WireProtocol> read_protocol(boost::asio::ip::tcp::socket& socket, std::string& first_bytes) {
    // The task's first state, as co_spawn made it, passes terminal cancellation on to the read.
    const auto cancellation = co_await boost::asio::this_coro::cancellation_state;
    std::array<char, HTTP2_PREFACE.size()> buffer;
    auto protocol = WireProtocol::undecided;
    while (protocol == WireProtocol::undecided && !drain_noted(cancellation)) {
        boost::system::error_code ec;
        const auto n = co_await socket.async_read_some(boost::asio::buffer(buffer),
                                                       boost::asio::redirect_error(boost::asio::use_awaitable, ec));
        if (ec) {
            break;
        }
        first_bytes.append(buffer.data(), n);
        protocol = detect_protocol(first_bytes);
    }
    co_return protocol;
}

} // namespace

boost::asio::awaitable<void> serve_connection(boost::asio::ip::tcp::socket socket,
                                              std::shared_ptr<RequestHandler> handler) {
    // A drain is a cancellation that each session answers in its own way; by default Asio would
    // throw at the next co_await, in the router's code too.
    co_await boost::asio::this_coro::throw_if_cancelled(false);
    try {
        // A socket that could block its thread on a write is not served.
        boost::system::error_code ec;
        prepare_for_direct_writes(socket, ec);
        std::string first_bytes;
        const auto protocol = ec ? WireProtocol::undecided : co_await read_protocol(socket, first_bytes);
        switch (protocol) {
        case WireProtocol::http1:
            co_await serve_http1(socket, first_bytes, *handler);
            break;
        case WireProtocol::http2: {
            auto serving = serve_http2(socket, first_bytes, std::move(handler));
            co_await std::move(serving);
            break;
        }
        case WireProtocol::undecided:
            break;
        }
    } catch (const std::exception& e) {
        // A broken connection ends here, alone, and says why.
        append_log(std::string("Helper connection failed: ") + e.what());
    }
    boost::system::error_code ignored;
    socket.close(ignored);
}

} // namespace quorvex::http
