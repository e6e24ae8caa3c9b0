#pragma once
// The real HttpServer on 127.0.0.1 with a system-chosen port, fed by the run loop's own accept
// loop (OwnerAcceptor, which takes every connection already queued at once) with an owner check
// that admits everyone, on threads of its own.

#include "service/peer/helper_server_platform.hpp"
#include "service/peer/http/http_server.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace quorvex::http::test {

// The owner check of a server whose clients are all the test's own: every connection is admitted
// and counted.
class AdmitEveryConnection final : public peer::ConnectionOwnerCheck {
public:
    std::vector<peer::PeerVerdict> peer_verdicts(std::span<const boost::asio::ip::tcp::socket> connections,
                                                 std::string_view) override;

    std::atomic<int> admitted{0};
};

class LoopbackServer {
public:
    explicit LoopbackServer(std::shared_ptr<RequestHandler> handler, int threads = 2,
                            int backlog = boost::asio::socket_base::max_listen_connections);
    // Drains if nobody did, waiting at most 10 s, then stops the threads.
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    [[nodiscard]] unsigned short port() const { return port_; }
    [[nodiscard]] int accepted() const { return platform_.admitted; }
    [[nodiscard]] std::size_t open_connections() const { return server_.open_connections(); }

    // Stops accepting and closes the listener, as the run loop does, then drains; ready once
    // every connection ended. Later calls return the same drain.
    std::shared_future<void> drain();

private:
    boost::asio::awaitable<void> serve(boost::asio::ip::tcp::acceptor listener);
    boost::asio::awaitable<void> drain_requested();

    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{io_.get_executor()};
    boost::asio::strand<boost::asio::io_context::executor_type> accept_strand_{io_.get_executor()};
    AdmitEveryConnection platform_;
    HttpServer server_;
    // Waited on until a drain is asked for; touched on the accept strand only.
    boost::asio::steady_timer drain_signal_{accept_strand_, boost::asio::steady_timer::time_point::max()};
    bool drain_asked_ = false;
    unsigned short port_ = 0;
    std::shared_future<void> served_;
    std::vector<std::thread> threads_;
};

} // namespace quorvex::http::test
