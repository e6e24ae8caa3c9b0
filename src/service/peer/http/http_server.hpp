#pragma once
// Serves accepted connections (HTTP/1.1 and cleartext HTTP/2 on the same port) through one
// RequestHandler, each connection in a task of its own on a strand of its own, and drains them
// at shutdown. Accepting, and deciding who may connect, belong to the caller.
//
// Thread-safe: serve() and drain() may be called from any thread of a multi-threaded io_context.

#include "service/peer/http/request_handler.hpp"
#include "service/peer/http/task_group.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstddef>
#include <memory>

namespace quorvex::http {

class HttpServer {
public:
    HttpServer(boost::asio::any_io_executor executor, std::shared_ptr<RequestHandler> handler);
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
    // Connection tasks keep what they need alive; still, drain() before destruction.
    ~HttpServer();

    // Starts the task that serves this connection and returns at once. Once a drain has begun,
    // the connection is closed unserved.
    void serve(boost::asio::ip::tcp::socket socket);

    // Cancels every connection task, which each takes as a graceful shutdown (HTTP/1.1: an idle
    // connection closes at once, a request in progress gets its complete reply first; HTTP/2:
    // GOAWAY, open streams finish), then completes when every connection task has ended. No time
    // limit.
    boost::asio::awaitable<void> drain();

    // Connection tasks that have not ended yet.
    [[nodiscard]] std::size_t open_connections() const;

private:
    boost::asio::any_io_executor executor_;
    std::shared_ptr<RequestHandler> handler_;
    // Shared with the connection tasks, which leave it as they end.
    std::shared_ptr<TaskGroup> connections_;
};

} // namespace quorvex::http
