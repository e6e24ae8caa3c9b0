#include "service/peer/http/http_server.hpp"

#include "common/helper_log.hpp"

#include "service/peer/http/served_connection.hpp"

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <cstdint>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace quorvex::http {

// The open connections, shared by the server and its connection tasks.
struct HttpServer::Registry : std::enable_shared_from_this<Registry> {
    mutable std::mutex lock;
    bool draining = false;
    std::uint64_t next_id = 0;
    std::unordered_map<std::uint64_t, std::shared_ptr<ShutdownWatch>> connections;
    struct Waiter {
        boost::asio::any_io_executor executor;
        boost::asio::any_completion_handler<void()> handler;
    };
    std::vector<Waiter> drain_waiters;

    void remove(std::uint64_t id) {
        std::vector<Waiter> finished;
        {
            const std::scoped_lock guard(lock);
            connections.erase(id);
            if (connections.empty()) {
                finished.swap(drain_waiters);
            }
        }
        for (auto& waiter : finished) {
            complete(std::move(waiter));
        }
    }

    // Completes once no connection is left; not a coroutine itself.
    boost::asio::awaitable<void> wait_until_empty(const boost::asio::any_io_executor& executor) {
        return boost::asio::async_initiate<const boost::asio::use_awaitable_t<>&, void()>(
            [registry = shared_from_this(), executor](boost::asio::any_completion_handler<void()> handler) {
                Waiter waiter{executor, std::move(handler)};
                {
                    const std::scoped_lock guard(registry->lock);
                    if (!registry->connections.empty()) {
                        registry->drain_waiters.push_back(std::move(waiter));
                        return;
                    }
                }
                complete(std::move(waiter));
            },
            boost::asio::use_awaitable);
    }

    // Resumes a drain() on its own executor, never inside the caller's stack.
    static void complete(Waiter waiter) { boost::asio::post(waiter.executor, std::move(waiter.handler)); }
};

HttpServer::HttpServer(boost::asio::any_io_executor executor, std::shared_ptr<RequestHandler> handler)
    : executor_(std::move(executor)), handler_(std::move(handler)), registry_(std::make_shared<Registry>()) {}

HttpServer::~HttpServer() = default;

void HttpServer::serve(boost::asio::ip::tcp::socket socket) {
    // Every write is a whole reply or a whole batch of frames: Nagle's algorithm would only hold
    // a reply back until the peer's delayed ACK for the previous write.
    boost::system::error_code no_delay_failed;
    socket.set_option(boost::asio::ip::tcp::no_delay(true), no_delay_failed);
    // A strand over the io_context's own executor type fits inline in every type-erased
    // executor the connection's operations copy; a strand over a type-erased one does not, and
    // each copy would allocate.
    const auto* io = executor_.target<boost::asio::io_context::executor_type>();
    const boost::asio::any_io_executor strand = io != nullptr
                                                    ? boost::asio::any_io_executor(boost::asio::make_strand(*io))
                                                    : boost::asio::any_io_executor(boost::asio::make_strand(executor_));
    const auto watch = std::make_shared<ShutdownWatch>(strand);
    std::uint64_t id = 0;
    {
        const std::scoped_lock guard(registry_->lock);
        if (registry_->draining) {
            boost::system::error_code ignored;
            socket.close(ignored);
            return;
        }
        id = registry_->next_id++;
        registry_->connections.emplace(id, watch);
    }
    boost::asio::co_spawn(strand, serve_connection(std::move(socket), handler_, watch),
                          [registry = registry_, id](const std::exception_ptr& failure) {
                              // serve_connection logs what std::exception carries; this is the rest.
                              if (failure) {
                                  append_log("Helper connection failed: unknown exception");
                              }
                              registry->remove(id);
                          });
}

boost::asio::awaitable<void> HttpServer::drain() {
    std::vector<std::shared_ptr<ShutdownWatch>> open;
    {
        const std::scoped_lock guard(registry_->lock);
        registry_->draining = true;
        for (const auto& [id, watch] : registry_->connections) {
            open.push_back(watch);
        }
    }
    for (const auto& watch : open) {
        watch->request();
    }
    const auto executor = co_await boost::asio::this_coro::executor;
    // A named awaitable: g++ 12 can destroy temporaries of a co_await expression twice.
    auto all_ended = registry_->wait_until_empty(executor);
    co_await std::move(all_ended);
}

std::size_t HttpServer::open_connections() const {
    const std::scoped_lock guard(registry_->lock);
    return registry_->connections.size();
}

} // namespace quorvex::http
