#include "loopback_server.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>

#include <chrono>

namespace quorvex::http::test {

using boost::asio::ip::tcp;

LoopbackServer::LoopbackServer(std::shared_ptr<RequestHandler> handler, int threads, int backlog)
    : server_(io_.get_executor(), std::move(handler)) {
    acceptor_.open(tcp::v4());
    acceptor_.bind(tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    acceptor_.listen(backlog);
    port_ = acceptor_.local_endpoint().port();
    boost::asio::co_spawn(accept_strand_, accept_loop(), boost::asio::detached);
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { io_.run(); });
    }
}

LoopbackServer::~LoopbackServer() {
    (void)drain().wait_for(std::chrono::seconds(10));
    work_.reset();
    io_.stop();
    for (auto& thread : threads_) {
        thread.join();
    }
}

std::shared_future<void> LoopbackServer::drain() {
    if (drained_) {
        return *drained_;
    }
    drained_ = boost::asio::co_spawn(
                   accept_strand_,
                   [this]() -> boost::asio::awaitable<void> {
                       boost::system::error_code ignored;
                       acceptor_.close(ignored);
                       co_await server_.drain();
                   },
                   boost::asio::use_future)
                   .share();
    return *drained_;
}

boost::asio::awaitable<void> LoopbackServer::accept_loop() {
    for (;;) {
        boost::system::error_code ec;
        auto socket = co_await acceptor_.async_accept(boost::asio::redirect_error(boost::asio::use_awaitable, ec));
        if (ec) {
            co_return;
        }
        ++accepted_;
        server_.serve(std::move(socket));
    }
}

} // namespace quorvex::http::test
