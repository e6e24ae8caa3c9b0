#include "service/peer/http/http2_session.hpp"

#include "common/helper_log.hpp"
#include "service/peer/http/served_connection.hpp"
#include "service/peer/http/socket_write.hpp"

#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <array>
#include <exception>
#include <optional>

namespace quorvex::http {
namespace {

using boost::asio::redirect_error;
using boost::asio::use_awaitable;
using boost::asio::ip::tcp;

// Wakes the coroutines of one connection that wait for its state to change. Strand-local: every
// waiter and every notify() runs on the connection's strand. A waiter re-checks its condition
// after each wake-up and before it waits again, so a notify() with nobody waiting is never lost.
class WakeSignal {
public:
    explicit WakeSignal(const boost::asio::any_io_executor& strand);

    // Completes at the next notify() (or when the signal is destroyed).
    boost::asio::awaitable<void> wait();
    // Wakes every current waiter.
    void notify();

private:
    // Nothing is sent to it: notify() cancels its waits. Not a timer: the first timer of a Windows
    // io_context starts a thread that stays for good.
    boost::asio::experimental::channel<void(boost::system::error_code)> waits_;
};

WakeSignal::WakeSignal(const boost::asio::any_io_executor& strand) : waits_(strand) {}

boost::asio::awaitable<void> WakeSignal::wait() {
    boost::system::error_code cancelled;
    co_await waits_.async_receive(boost::asio::redirect_error(boost::asio::use_awaitable, cancelled));
}

void WakeSignal::notify() { waits_.cancel(); }

// Everything here runs on the connection's strand.
struct Http2Connection {
    Http2Connection(tcp::socket& socket, std::shared_ptr<RequestHandler> handler,
                    const boost::asio::any_io_executor& strand)
        : socket(socket), handler(std::move(handler)), strand(strand), output_ready(strand), body_ready(strand),
          task_ended(strand) {}

    tcp::socket& socket;
    std::shared_ptr<RequestHandler> handler;
    boost::asio::any_io_executor strand;
    Http2Session session;
    WakeSignal output_ready; // the session may have bytes to send, or the writer may be done
    WakeSignal body_ready;   // request body bytes, a stream end or the input end arrived
    WakeSignal task_ended;   // the reader or a stream handler ended
    bool reading = true;
    bool stopping = false;      // the writer is done: the reader must not start another read
    bool shutting_down = false; // the drain's GOAWAY is queued
    std::size_t running_handlers = 0;
};

class Http2BodyReader final : public BodyReader {
public:
    Http2BodyReader(Http2Connection& connection, std::int32_t stream_id)
        : connection_(connection), stream_id_(stream_id) {}

    boost::asio::awaitable<Result<std::string>> read_body(std::size_t limit) override {
        for (;;) {
            auto polled = connection_.session.poll_body(stream_id_, limit);
            connection_.output_ready.notify(); // taking bytes queues WINDOW_UPDATE
            if (polled) {
                co_return std::move(*polled);
            }
            co_await connection_.body_ready.wait();
        }
    }

private:
    Http2Connection& connection_;
    std::int32_t stream_id_;
};

boost::asio::awaitable<void> run_stream(std::shared_ptr<Http2Connection> connection, StartedRequest request,
                                        PendingRoute route) {
    std::optional<Reply> reply;
    try {
        Http2BodyReader body(*connection, request.stream_id);
        auto handling = std::move(route).run(std::move(request.head), body);
        reply = co_await std::move(handling);
    } catch (const std::exception& e) {
        // A failing handler costs its own stream only; the log line is the one HTTP/1.1 writes
        // for the same failure.
        append_log(std::string("Helper connection failed: ") + e.what());
    }
    if (reply) {
        connection->session.submit_reply(request.stream_id, std::move(*reply));
    } else {
        connection->session.abandon_stream(request.stream_id);
    }
    --connection->running_handlers;
    connection->output_ready.notify();
    connection->task_ended.notify();
}

void start_streams(const std::shared_ptr<Http2Connection>& connection) {
    auto& session = connection->session;
    session.visit_started_requests([&](std::int32_t stream_id, RequestHead& head) {
        // Most requests are answered from the head alone: no coroutine for them. The decision is
        // built in place: a default one would hold an empty Reply to destroy.
        std::optional<PendingRoute> route;
        try {
            HeadDecision decision = connection->handler->answer_at_once(head);
            if (auto* at_once = std::get_if<Reply>(&decision)) {
                session.submit_reply(stream_id, std::move(*at_once));
                return;
            }
            route.emplace(std::get<PendingRoute>(std::move(decision)));
        } catch (const std::exception& e) {
            append_log(std::string("Helper connection failed: ") + e.what());
            session.abandon_stream(stream_id);
            return;
        }
        // Detached and counted, not in a TaskGroup: a stream is never cancelled (the drain lets
        // open streams finish, and the connection waits for them), and a group's member, list
        // node and posted start would be three allocations more per request.
        ++connection->running_handlers;
        boost::asio::co_spawn(connection->strand,
                              run_stream(connection, StartedRequest{stream_id, std::move(head)}, std::move(*route)),
                              boost::asio::detached);
    });
}

void feed(const std::shared_ptr<Http2Connection>& connection, std::string_view bytes) {
    // A rejected input has queued GOAWAY; the writer sends it and the session stops reading. The
    // session keeps the cause, which is logged once the connection ends.
    (void)connection->session.receive(bytes);
    start_streams(connection);
    connection->body_ready.notify();
    connection->output_ready.notify();
}

boost::asio::awaitable<void> read_loop(std::shared_ptr<Http2Connection> connection) {
    std::array<char, std::size_t{16} * 1024> buffer;
    while (!connection->stopping && connection->session.want_read()) {
        boost::system::error_code ec;
        const auto n =
            co_await connection->socket.async_read_some(boost::asio::buffer(buffer), redirect_error(use_awaitable, ec));
        if (ec) {
            connection->session.end_of_input();
            break;
        }
        feed(connection, std::string_view(buffer.data(), n));
    }
    connection->reading = false;
    connection->body_ready.notify();
    connection->output_ready.notify();
    connection->task_ended.notify();
}

// Announces GOAWAY once the drain has reached the connection's task.
void shut_down_once_drained(Http2Connection& connection, const boost::asio::cancellation_state& cancellation) {
    if (!connection.shutting_down && drain_noted(cancellation)) {
        connection.shutting_down = true;
        connection.session.begin_shutdown();
    }
}

// A drain ends the wait for output (the task's state passes it on), so its GOAWAY goes out at
// once; a write is bound to no cancellation slot, so a drain never cuts it short.
boost::asio::awaitable<void> write_loop(Http2Connection& connection) {
    const auto cancellation = co_await boost::asio::this_coro::cancellation_state;
    for (;;) {
        shut_down_once_drained(connection, cancellation);
        const auto output = connection.session.take_output();
        if (!output.empty()) {
            boost::system::error_code ec;
            std::array<boost::asio::const_buffer, 1> buffers{boost::asio::buffer(output)};
            co_await write_all(connection.socket, buffers, ec);
            if (ec) {
                co_return;
            }
            continue;
        }
        const bool protocol_finished = !connection.session.want_read() && !connection.session.want_write();
        // A peer that stopped sending may still read the replies of requests in progress.
        const bool nothing_left = !connection.reading && connection.running_handlers == 0;
        if (protocol_finished || nothing_left) {
            co_return;
        }
        co_await connection.output_ready.wait();
    }
}

} // namespace

boost::asio::awaitable<void> serve_http2(tcp::socket& socket, std::string_view first_bytes,
                                         std::shared_ptr<RequestHandler> handler) {
    const auto strand = co_await boost::asio::this_coro::executor;
    const auto connection = std::make_shared<Http2Connection>(socket, std::move(handler), strand);
    // A drain that came while the preface was read refuses the requests behind it.
    shut_down_once_drained(*connection, co_await boost::asio::this_coro::cancellation_state);
    feed(connection, first_bytes);
    boost::asio::co_spawn(strand, read_loop(connection), boost::asio::detached);
    co_await write_loop(*connection);

    // Stop the reader, let every handler finish (their replies can no longer be sent), then
    // close without resetting bytes the peer may still be sending.
    connection->stopping = true;
    boost::system::error_code ignored;
    socket.cancel(ignored);
    while (connection->reading || connection->running_handlers != 0) {
        co_await connection->task_ended.wait();
    }
    if (const auto& cause = connection->session.connection_error()) {
        append_log("Helper ended an HTTP/2 connection: " + *cause);
    }
    co_await close_gracefully(socket);
}

} // namespace quorvex::http
