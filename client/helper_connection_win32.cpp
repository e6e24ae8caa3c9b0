#include "client/helper_connection_win32.hpp"

#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wine_socket_owner.hpp"
#include "platform/win32/system_tcp_table.hpp"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <winsock2.h>

namespace quorvex::client {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;

// A helper that stops answering must not hang its client: no reply takes this long.
constexpr DWORD SOCKET_TIMEOUT_MS = 30'000;
// The largest reply is the logs: 100 lines of at most 64 KiB each (6.4 MiB), with room to spare.
constexpr std::uint64_t REPLY_BODY_LIMIT = std::uint64_t{8} << 20;

Error os_error_of(const boost::system::error_code& error) { return win32::os_error(static_cast<DWORD>(error.value())); }

ClientResult<std::vector<peer::TcpOwnerRow>> rows_of_port(std::uint16_t port) {
    peer::SystemTcpTable source;
    peer::TcpTableReader reader;
    const auto table = reader.read(source);
    if (!table) {
        return fail(ClientErrorKind::SystemError, table.error().context("read the TCP table"));
    }
    return table->rows_with_local_port(port);
}

} // namespace

HelperConnection::HelperConnection(std::uint16_t port) : socket_(io_), port_(port) {}

HelperConnection::~HelperConnection() {
    // Shut down first: under Wine another descriptor of the socket stays open (wine_socket_owner).
    boost::system::error_code ignored;
    (void)socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    (void)socket_.close(ignored);
}

ClientResult<std::unique_ptr<HelperConnection>> HelperConnection::open(const HelperEndpoint& endpoint,
                                                                       HelperSystem& system) {
    const std::uint16_t port = endpoint.published.port;
    const auto listeners = rows_of_port(port);
    if (!listeners) {
        return std::unexpected(listeners.error());
    }
    if (auto listener = check_listener(*listeners, port, endpoint.process); !listener) {
        return std::unexpected(std::move(listener.error()));
    }

    std::unique_ptr<HelperConnection> connection(new HelperConnection(port));
    auto& socket = connection->socket_;
    // Not inheritable: a host that starts children with inheritance on must not hand them a
    // connection the helper has verified and admitted (Asio's own sockets are inheritable).
    win32::UniqueSocket created(
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    if (!created) {
        return fail(ClientErrorKind::SystemError,
                    win32::os_error(static_cast<DWORD>(::WSAGetLastError())).context("create a socket"));
    }
    boost::system::error_code error;
    (void)socket.assign(asio::ip::tcp::v4(), created.get(), error);
    if (error) {
        return fail(ClientErrorKind::SystemError, os_error_of(error).context("create a socket"));
    }
    (void)created.release(); // the Asio socket owns it now
    win32::keep_wine_descriptor_of(socket.native_handle());
    for (const int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
        (void)::setsockopt(socket.native_handle(), SOL_SOCKET, option,
                           reinterpret_cast<const char*>(&SOCKET_TIMEOUT_MS), sizeof SOCKET_TIMEOUT_MS);
    }
    (void)socket.connect({asio::ip::address_v4::loopback(), port}, error);
    if (error) {
        return fail(ClientErrorKind::ConnectFailed,
                    os_error_of(error).context("connect to the helper on 127.0.0.1:" + std::to_string(port)));
    }
    const auto local = socket.local_endpoint(error);
    if (error) {
        return fail(ClientErrorKind::SystemError, os_error_of(error).context("read the connection's own end"));
    }

    const auto accepted = rows_of_port(port);
    if (!accepted) {
        return std::unexpected(accepted.error());
    }
    const peer::Ipv4Endpoint client_end{peer::ipv4_address_from_octets(local.address().to_v4().to_bytes()),
                                        local.port()};
    if (auto server_end = check_accepted_connection(*accepted, port, client_end, endpoint.process); !server_end) {
        return std::unexpected(std::move(server_end.error()));
    }
    if (auto same = check_same_process(system, endpoint.process); !same) {
        return std::unexpected(std::move(same.error()));
    }
    return connection;
}

std::expected<HttpReply, ExchangeFailure> HelperConnection::exchange(http::verb method, std::string_view target,
                                                                     std::string body) {
    used_ = true;
    reusable_ = false; // until a whole reply that keeps the connection arrived
    http::request<http::string_body> request{method, target, 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port_));
    if (method == http::verb::post) {
        request.set(http::field::content_type, "application/json");
    }
    request.body() = std::move(body);
    request.prepare_payload();

    boost::system::error_code error;
    http::write(socket_, request, error);
    if (error) {
        return std::unexpected(ExchangeFailure{true, false, os_error_of(error).context("send the request")});
    }

    http::response_parser<http::string_body> parser;
    parser.body_limit(REPLY_BODY_LIMIT);
    http::read(socket_, buffer_, parser, error);
    if (error) {
        const bool nothing = !parser.got_some();
        const bool malformed = is_malformed_reply(error);
        Error cause = error.category() == asio::error::get_system_category() ? os_error_of(error)
                                                                             : Error::message(error.message());
        return std::unexpected(
            ExchangeFailure{nothing && !malformed, malformed, std::move(cause).context("read the reply")});
    }
    auto& response = parser.get();
    reusable_ = response.keep_alive();
    HttpReply reply{response.result_int(), std::nullopt, std::move(response.body())};
    if (const auto found = response.find(HELPER_PROTOCOL_HEADER); found != response.end()) {
        reply.protocol = std::string(found->value());
    }
    return reply;
}

} // namespace quorvex::client
