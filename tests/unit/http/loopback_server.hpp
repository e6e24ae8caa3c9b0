#pragma once
// The real HttpServer on 127.0.0.1 with a system-chosen port, behind a minimal accept loop in
// place of the run loop's (the owner check is the run loop's business), on threads of its own.

#include "service/peer/http/http_server.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace quorvex::http::test {

class LoopbackServer {
public:
    explicit LoopbackServer(std::shared_ptr<RequestHandler> handler, int threads = 2,
                            int backlog = boost::asio::socket_base::max_listen_connections);
    // Drains if nobody did, waiting at most 10 s, then stops the threads.
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    [[nodiscard]] unsigned short port() const { return port_; }
    [[nodiscard]] int accepted() const { return accepted_; }
    [[nodiscard]] std::size_t open_connections() const { return server_.open_connections(); }
    [[nodiscard]] boost::asio::io_context& io() { return io_; }

    // Stops accepting, as the run loop does, then drains; ready once every connection ended.
    // Later calls return the same drain.
    std::shared_future<void> drain();

private:
    boost::asio::awaitable<void> accept_loop();

    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{io_.get_executor()};
    boost::asio::strand<boost::asio::io_context::executor_type> accept_strand_{io_.get_executor()};
    boost::asio::ip::tcp::acceptor acceptor_{accept_strand_};
    HttpServer server_;
    std::atomic<int> accepted_{0};
    unsigned short port_ = 0;
    std::optional<std::shared_future<void>> drained_;
    std::vector<std::thread> threads_;
};

} // namespace quorvex::http::test
