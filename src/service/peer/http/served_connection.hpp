#pragma once
// One accepted connection as the server serves it: its protocol decided from its first bytes, the HTTP/1.1 or HTTP/2
// session that then runs on it, and its graceful close. The task of a connection runs on a strand of its own; every
// failure stays inside that task.

#include "service/peer/http/request_handler.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/cancellation_state.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string_view>

namespace quorvex::http {

// A drain reaches a connection's task as terminal cancellation (TaskGroup::cancel_all), on the
// connection's strand. The task's cancellation state decides what it does: while the connection
// waits for a request the cancellation is passed on and ends the wait at once; while a request
// is served it is only noted, and the session ends the connection once the reply is out. A write
// or a close in progress is never cut short.
[[nodiscard]] inline bool drain_noted(const boost::asio::cancellation_state& state) {
    return state.cancelled() != boost::asio::cancellation_type::none;
}

// HTTP/2 clients with prior knowledge open with the fixed connection preface; everything else is
// HTTP/1.1.
inline constexpr std::string_view HTTP2_PREFACE = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";

enum class WireProtocol { undecided, http1, http2 };

// Decides at the first byte that differs from the preface, so a short HTTP/1.1 request never
// waits for 24 bytes; `undecided` while every byte so far matches and the preface is incomplete.
[[nodiscard]] WireProtocol detect_protocol(std::string_view first_bytes);

inline constexpr std::size_t HTTP1_HEADER_LIMIT = std::size_t{16} * 1024;
inline constexpr std::size_t HTTP1_READ_BUFFER_LIMIT = std::size_t{64} * 1024;

// One HTTP/1.1 connection: requests one after another (keep-alive), each head handed to the
// handler before any body byte is read. Closes after a reply when the handler left body bytes
// unread, when either side asked for "connection: close", after a malformed request, and, once
// a drain is requested, when idle or after the reply in progress. Runs on the connection's strand
// until the connection is done; the socket is closed on return. `first_bytes` are the bytes
// protocol detection has already read.
boost::asio::awaitable<void> serve_http1(boost::asio::ip::tcp::socket& socket, std::string_view first_bytes,
                                         RequestHandler& handler);

// One HTTP/2 connection: a reader feeding the session, a writer sending what it yields, and one
// coroutine per request stream running the handler. Runs on the connection's strand until the
// protocol is finished or the peer is gone and every stream's handler has ended; the socket is
// closed on return. `first_bytes` are the bytes protocol detection has already read (the
// preface, perhaps more).
boost::asio::awaitable<void> serve_http2(boost::asio::ip::tcp::socket& socket, std::string_view first_bytes,
                                         std::shared_ptr<RequestHandler> handler);

// Closing a connection that may still hold unread request bytes. A plain close would answer
// those bytes with a reset, and a reset can destroy the reply the client has not read yet; so
// the send side is shut first and what the peer still sends is read and dropped, for a bounded
// time and amount, before the socket closes.
inline constexpr std::chrono::milliseconds LINGER_TIME{1000};
inline constexpr std::size_t LINGER_BYTES = std::size_t{256} * 1024;

// Runs on the connection's strand; never throws.
boost::asio::awaitable<void> close_gracefully(boost::asio::ip::tcp::socket& socket);

// The whole task of one connection: detect the protocol, then serve it until it ends. Runs on the
// connection's strand; never throws; the socket is closed when it returns.
boost::asio::awaitable<void> serve_connection(boost::asio::ip::tcp::socket socket,
                                              std::shared_ptr<RequestHandler> handler);

} // namespace quorvex::http
