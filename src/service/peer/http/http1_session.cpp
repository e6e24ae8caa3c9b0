#include "service/peer/http/served_connection.hpp"

#include "service/peer/http/http1_reply_head.hpp"
#include "service/peer/http/recycled.hpp"
#include "service/peer/http/socket_write.hpp"

#include <boost/asio/cancellation_state.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/read_size.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>

#include <array>
#include <memory_resource>
#include <optional>
#include <string>
#include <tuple>

namespace quorvex::http {
namespace {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using boost::asio::redirect_error;
using boost::asio::use_awaitable;
using boost::asio::ip::tcp;
// Header fields come from the connection's own pool: after its first request, a connection
// parses and answers without touching the process heap for them.
using FieldsAllocator = std::pmr::polymorphic_allocator<char>;
using Fields = bhttp::basic_fields<FieldsAllocator>;
using Parser = bhttp::request_parser<bhttp::string_body, FieldsAllocator>;
using Request = bhttp::request<bhttp::string_body, Fields>;

// Reads the body of the current request only when the handler asks, and never more than it allows.
class Http1BodyReader final : public BodyReader {
public:
    Http1BodyReader(tcp::socket& socket, beast::flat_buffer& buffer, Parser& parser)
        : socket_(socket), buffer_(buffer), parser_(parser) {}

    boost::asio::awaitable<Result<std::string>> read_body(std::size_t limit) override {
        if (failed_) {
            co_return fail(Error::message("the request body could not be read"));
        }
        if (!parser_.is_done()) {
            // A declared length is checked before any body byte is read; chunked bodies are
            // counted by the parser as they arrive.
            if (const auto declared = parser_.content_length(); declared && *declared > limit) {
                failed_ = true;
                co_return fail(Error::message("the request body exceeds " + std::to_string(limit) + " bytes"));
            }
            boost::system::error_code ec;
            co_await send_continue_if_expected(ec);
            if (!ec) {
                parser_.body_limit(limit);
                take_buffered_body(ec);
            }
            if (!ec && !parser_.is_done()) {
                co_await bhttp::async_read(socket_, buffer_, parser_, redirect_error(use_awaitable, ec));
            }
            if (ec) {
                failed_ = true;
                co_return fail(Error::message("read request body: " + ec.message()));
            }
        }
        if (taken_) {
            co_return fail(Error::message("the request body was already read"));
        }
        taken_ = true;
        co_return std::move(parser_.get().body());
    }

    // True when no byte of this request is left on the wire, so the next request can follow.
    [[nodiscard]] bool request_complete() const { return parser_.is_done() && !failed_; }

private:
    // A body usually arrives with its head and waits in the buffer. Parsed here, it completes
    // without Beast's read, which would go once through the io_context even with nothing to read.
    void take_buffered_body(boost::system::error_code& ec) {
        parser_.eager(true);
        if (buffer_.size() != 0) {
            buffer_.consume(parser_.put(buffer_.data(), ec));
            if (ec == bhttp::error::need_more) {
                ec.clear();
            }
        }
    }

    // A client that sent "Expect: 100-continue" holds the body back until it is asked for it.
    boost::asio::awaitable<void> send_continue_if_expected(boost::system::error_code& ec) {
        const auto& request = parser_.get();
        if (continue_sent_ || request.version() < 11 ||
            !beast::iequals(request[bhttp::field::expect], "100-continue")) {
            co_return;
        }
        continue_sent_ = true;
        static constexpr std::string_view CONTINUE = "HTTP/1.1 100 Continue\r\n\r\n";
        std::array<boost::asio::const_buffer, 1> buffers{boost::asio::buffer(CONTINUE)};
        co_await write_all(socket_, buffers, ec);
    }

    tcp::socket& socket_;
    beast::flat_buffer& buffer_;
    Parser& parser_;
    bool failed_ = false;
    bool taken_ = false;
    bool continue_sent_ = false;
};

RequestHead head_of(const Request& request) {
    RequestHead head{.method = std::string(request.method_string()), .target = std::string(request.target())};
    for (const auto& field : request) {
        head.headers.push_back(Header{std::string(field.name_string()), std::string(field.value())});
    }
    return head;
}

bool asks_to_close(const Reply& reply) {
    for (const auto& header : reply.headers) {
        if (beast::iequals(header.name(), "connection") && beast::iequals(header.value(), "close")) {
            return true;
        }
    }
    return false;
}

// The reply goes out as its head and its body in one gather write; `head` and `reply` outlive it.
std::array<boost::asio::const_buffer, 2> reply_buffers(const std::string& head, const Reply& reply, bool head_request) {
    return {boost::asio::buffer(head),
            head_request ? boost::asio::const_buffer() : boost::asio::buffer(reply.body.view())};
}

// Reads until the parser holds a whole request head, with the errors Beast's async_read_header
// gives, but as one read per wait instead of Beast's two nested composed operations.
boost::asio::awaitable<void> read_head(tcp::socket& socket, beast::flat_buffer& buffer, Parser& parser,
                                       boost::system::error_code& ec) {
    constexpr std::size_t READ_SIZE = 65536;
    for (;;) {
        if (buffer.size() != 0) {
            buffer.consume(parser.put(buffer.data(), ec));
            if (ec != bhttp::error::need_more) {
                co_return;
            }
        }
        ec.clear();
        const auto size = beast::read_size(buffer, READ_SIZE);
        if (size == 0) {
            ec = bhttp::error::buffer_overflow;
            co_return;
        }
        const auto n =
            co_await socket.async_read_some(buffer.prepare(size), recycled(redirect_error(use_awaitable, ec)));
        buffer.commit(n);
        if (ec == boost::asio::error::eof) {
            ec.clear();
            if (parser.got_some()) {
                parser.put_eof(ec);
            } else {
                ec = bhttp::error::end_of_stream;
            }
            co_return;
        }
        if (ec) {
            co_return;
        }
    }
}

// A request the parser refused: the reply names the fault, and the connection closes.
bool is_malformed(const boost::system::error_code& ec) {
    return ec.category() == bhttp::make_error_code(bhttp::error::bad_method).category() &&
           ec != bhttp::error::end_of_stream && ec != bhttp::error::partial_message;
}

boost::asio::awaitable<void> refuse_malformed(tcp::socket& socket, const boost::system::error_code& ec) {
    const bool too_large = ec == bhttp::error::header_limit || ec == bhttp::error::buffer_overflow;
    Reply reply{.status = too_large ? 431u : 400u,
                .headers = {{"content-type", "text/plain; charset=utf-8"}, {"connection", "close"}},
                .body = too_large ? "request header fields too large" : "malformed HTTP request"};
    std::string head;
    append_reply_head(head, reply, 11, false);
    boost::system::error_code ignored;
    auto buffers = reply_buffers(head, reply, false);
    co_await write_all(socket, buffers, ignored);
}

} // namespace

boost::asio::awaitable<void> serve_http1(tcp::socket& socket, std::string_view first_bytes, RequestHandler& handler) {
    beast::flat_buffer buffer(HTTP1_READ_BUFFER_LIMIT);
    std::pmr::unsynchronized_pool_resource fields_pool;
    const FieldsAllocator fields_allocator(&fields_pool);
    buffer.commit(boost::asio::buffer_copy(buffer.prepare(first_bytes.size()), boost::asio::buffer(first_bytes)));
    // Kept across the connection's replies: after the first, a head is written without allocating.
    std::string reply_head;

    // Waiting for the next request head counts as idle: the task's state as co_spawn made it
    // passes a drain on to that read, which ends at once. From the head to the end of its reply a
    // drain is only noted: the reply's write is bound to no slot, and a handler coroutine runs
    // under a state that passes nothing on. Most requests need no handler coroutine, so the state
    // is replaced only around one; a reset state forgets what it noted, so each state is read
    // before it is replaced.
    for (;;) {
        if (drain_noted(co_await boost::asio::this_coro::cancellation_state)) {
            break;
        }
        Parser parser(std::piecewise_construct, std::make_tuple(), std::make_tuple(fields_allocator));
        parser.header_limit(HTTP1_HEADER_LIMIT);
        parser.body_limit(boost::none); // the handler sets the limit when it reads the body
        boost::system::error_code ec;
        co_await read_head(socket, buffer, parser, ec);
        bool draining = drain_noted(co_await boost::asio::this_coro::cancellation_state);
        if (ec) {
            if (is_malformed(ec) && !draining) {
                co_await refuse_malformed(socket, ec);
                co_await close_gracefully(socket);
            }
            break;
        }

        const auto& request = parser.get();
        const bool head_request = request.method() == bhttp::verb::head;
        const unsigned version = request.version();
        Http1BodyReader body(socket, buffer, parser);
        auto head = head_of(request);
        // Most requests are answered from the head alone, without a handler coroutine; the reply
        // stays where the decision put it.
        HeadDecision decision = handler.answer_at_once(head);
        if (auto* route = std::get_if<PendingRoute>(&decision)) {
            co_await boost::asio::this_coro::reset_cancellation_state(boost::asio::enable_terminal_cancellation(),
                                                                      boost::asio::disable_cancellation());
            // The route runs out of the decision's storage, which outlives the wait.
            auto handling = std::move(*route).run(std::move(head), body);
            decision = co_await std::move(handling);
            draining = draining || drain_noted(co_await boost::asio::this_coro::cancellation_state);
            co_await boost::asio::this_coro::reset_cancellation_state(boost::asio::enable_terminal_cancellation());
        }
        Reply& reply = std::get<Reply>(decision);

        draining = draining || drain_noted(co_await boost::asio::this_coro::cancellation_state);
        const bool close = !parser.keep_alive() || !body.request_complete() || asks_to_close(reply) || draining;
        reply_head.clear();
        append_reply_head(reply_head, reply, version, !close);
        auto buffers = reply_buffers(reply_head, reply, head_request);
        co_await write_all(socket, buffers, ec);
        if (ec) {
            break;
        }
        if (close) {
            co_await close_gracefully(socket);
            break;
        }
    }
    boost::system::error_code ignored;
    socket.close(ignored);
}

} // namespace quorvex::http
