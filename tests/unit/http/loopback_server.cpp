#include "loopback_server.hpp"

#include "service/peer/owner_acceptor.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>

#include <chrono>

namespace quorvex::http::test {

using boost::asio::ip::tcp;

std::vector<peer::PeerVerdict> AdmitEveryConnection::peer_verdicts(std::span<const tcp::socket> connections,
                                                                   std::string_view) {
    admitted += static_cast<int>(connections.size());
    return std::vector<peer::PeerVerdict>(connections.size(), peer::PeerVerdict::admitted);
}

LoopbackServer::LoopbackServer(std::shared_ptr<RequestHandler> handler, int threads, int backlog)
    : server_(io_.get_executor(), std::move(handler)) {
    tcp::acceptor listener(accept_strand_);
    listener.open(tcp::v4());
    listener.bind(tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    listener.listen(backlog);
    port_ = listener.local_endpoint().port();
    served_ = boost::asio::co_spawn(accept_strand_, serve(std::move(listener)), boost::asio::use_future).share();
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
    boost::asio::post(accept_strand_, [this] {
        drain_asked_ = true;
        drain_signal_.cancel();
    });
    return served_;
}

boost::asio::awaitable<void> LoopbackServer::drain_requested() {
    if (!drain_asked_) {
        co_await drain_signal_.async_wait(boost::asio::as_tuple(boost::asio::use_awaitable));
    }
}

boost::asio::awaitable<void> LoopbackServer::serve(tcp::acceptor listener) {
    using namespace boost::asio::experimental::awaitable_operators;
    {
        peer::OwnerAcceptor acceptor(std::move(listener), "", platform_);
        auto serving =
            drain_requested() || acceptor.run([this](tcp::socket connection) { server_.serve(std::move(connection)); });
        co_await std::move(serving);
    } // the listener closes here, before the drain
    co_await server_.drain();
}

} // namespace quorvex::http::test
