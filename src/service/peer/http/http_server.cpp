#include "service/peer/http/http_server.hpp"

#include "common/helper_log.hpp"

#include "service/peer/http/served_connection.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/strand.hpp>

#include <exception>

namespace quorvex::http {

HttpServer::HttpServer(boost::asio::any_io_executor executor, std::shared_ptr<RequestHandler> handler)
    : executor_(std::move(executor)), handler_(std::move(handler)),
      connections_(std::make_shared<TaskGroup>(executor_)) {}

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
    // Once a drain has begun, the connection is closed unserved with the task that owns it.
    connections_->spawn(strand, serve_connection(std::move(socket), handler_), [](const std::exception_ptr& failure) {
        // serve_connection logs what std::exception carries; this is the rest.
        if (failure) {
            append_log("Helper connection failed: unknown exception");
        }
    });
}

boost::asio::awaitable<void> HttpServer::drain() {
    connections_->cancel_all();
    auto all_ended = connections_->all_ended();
    co_await std::move(all_ended);
}

std::size_t HttpServer::open_connections() const { return connections_->size(); }

} // namespace quorvex::http
