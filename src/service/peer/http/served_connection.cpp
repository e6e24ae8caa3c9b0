#include "service/peer/http/served_connection.hpp"

#include "common/helper_log.hpp"

#include "service/peer/http/http1_session.hpp"
#include "service/peer/http/http2_connection.hpp"
#include "service/peer/http/protocol_detection.hpp"

#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <array>
#include <exception>
#include <string>

namespace quorvex::http {
namespace {

// Reads until the first bytes decide the protocol; undecided when the peer leaves first or a
// drain closes the still silent connection.
boost::asio::awaitable<WireProtocol> read_protocol(boost::asio::ip::tcp::socket& socket, std::string& first_bytes,
                                                   ShutdownWatch& watch)
{
    const auto hook = watch.install_hook([&socket] {
        boost::system::error_code ignored;
        socket.cancel(ignored);
    });
    std::array<char, HTTP2_PREFACE.size()> buffer;
    auto protocol = WireProtocol::undecided;
    while (protocol == WireProtocol::undecided && !watch.requested()) {
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
                                              std::shared_ptr<RequestHandler> handler,
                                              std::shared_ptr<ShutdownWatch> watch)
{
    try {
        std::string first_bytes;
        switch (co_await read_protocol(socket, first_bytes, *watch)) {
        case WireProtocol::http1:
            co_await serve_http1(socket, first_bytes, *handler, *watch);
            break;
        case WireProtocol::http2:
            co_await serve_http2(socket, first_bytes, std::move(handler), *watch);
            break;
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
