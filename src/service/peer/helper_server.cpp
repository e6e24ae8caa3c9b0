#include "service/peer/helper_server.hpp"

#include "service/peer/http/http_server.hpp"
#include "service/peer/owner_acceptor.hpp"

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/this_coro.hpp>

#include <utility>

namespace quorvex::peer {
namespace {

// Removes the published port whenever serving ends, also when the caller abandons the task.
class PortPublication {
public:
    explicit PortPublication(HelperServerPlatform& platform) : platform_(platform) {}
    PortPublication(const PortPublication&) = delete;
    PortPublication& operator=(const PortPublication&) = delete;
    ~PortPublication() { platform_.unpublish_port(); }

private:
    HelperServerPlatform& platform_;
};

} // namespace

boost::asio::awaitable<Result<void>> run_helper_server(std::string owner_sid, ServerHost& host,
                                                       HelperServerPlatform& platform,
                                                       std::shared_ptr<http::RequestHandler> router,
                                                       std::function<void()> stop_core) {
    using namespace boost::asio::experimental::awaitable_operators;
    const auto executor = co_await boost::asio::this_coro::executor;

    auto listener = platform.open_listener(executor);
    if (!listener) {
        co_return fail(listener.error().folded_into("bind helper server"));
    }

    boost::system::error_code error;
    const auto endpoint = listener->local_endpoint(error);
    if (error) {
        co_return fail(Error::message(error.message()).folded_into("read helper server port"));
    }

    if (auto published = platform.publish_port(endpoint.port()); !published) {
        co_return fail(published.error().folded_into("publish helper server port"));
    }

    {
        PortPublication publication(platform);
        if (auto reported = host.report_running(); !reported) {
            co_return fail(std::move(reported.error()).context("report helper service running"));
        }

        http::HttpServer server(executor, std::move(router));
        {
            OwnerAcceptor acceptor(std::move(*listener), owner_sid, platform);
            // The stop is consulted first; its completion cancels the accept loop, which reads
            // its own cancellation state, so a stop requested earlier accepts nothing.
            auto serving = host.stop_requested() ||
                           acceptor.run([&](boost::asio::ip::tcp::socket socket) { server.serve(std::move(socket)); });
            co_await std::move(serving);
        } // the listener closes here, before the drain

        co_await server.drain();
    } // the port is unpublished here, before the Core is stopped

    stop_core();
    co_return Result<void>{};
}

} // namespace quorvex::peer
