// The helper's transport and router, natively, for the transport benchmark: the real HttpServer
// and HelperRouter on the helper runtime's threads, over a Core that is never asked (the
// benchmark reads GET /logs), on 127.0.0.1 with a system-chosen port.
//
//   bench_transport_server <port-file> <log-lines>
//
// Fills the log with <log-lines> lines, writes its port to <port-file> (and the /logs body to
// <port-file>.body, for the peer servers to serve the same bytes), then serves until killed.

#include "common/helper_log.hpp"
#include "service/hub/helper_replies.hpp"
#include "service/hub/helper_router.hpp"
#include "service/peer/http/http_server.hpp"
#include "service/windows/helper_runtime.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace quorvex;
namespace asio = boost::asio;

// The benchmark never reaches a Core operation; answering them keeps the router whole.
class IdleCore final : public hub::CoreOperations {
public:
    hub::PingOutcome ping_core(std::string) override { return hub::PingDigestMismatch{}; }
    hub::StartOutcome start_core(std::string, std::string) override { return hub::InvalidAddress{}; }
    hub::StopOutcome stop_core(std::string session_id) override { return hub::NotRunning{std::move(session_id)}; }
};

asio::awaitable<void> accept_loop(asio::ip::tcp::acceptor& acceptor, http::HttpServer& server) {
    for (;;) {
        boost::system::error_code ec;
        auto socket = co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
        if (ec) continue;
        socket.set_option(asio::ip::tcp::no_delay(true), ec);
        server.serve(std::move(socket));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_transport_server <port-file> <log-lines>\n");
        return 2;
    }
    const int lines = std::atoi(argv[2]);
    for (int i = 0; i < lines; ++i) append_log("Core line " + std::to_string(i) + ": listening, nothing to report");

    auto runtime = service::HelperRuntime::create(service::logical_processor_count());
    if (!runtime) {
        std::fprintf(stderr, "bench_transport_server: %s\n", runtime.error().text().c_str());
        return 1;
    }
    IdleCore core;
    auto router = std::make_shared<hub::HelperRouter>(core, helper_log(), (*runtime)->blocking().get_executor());
    http::HttpServer server((*runtime)->io().get_executor(), router);
    asio::ip::tcp::acceptor acceptor((*runtime)->io(), {asio::ip::address_v4::loopback(), 0});

    const std::string port_file = argv[1];
    std::ofstream(port_file + ".body", std::ios::binary) << hub::logs_reply(helper_log().lines()).body;
    std::ofstream(port_file + ".partial") << acceptor.local_endpoint().port() << '\n';
    std::rename((port_file + ".partial").c_str(), port_file.c_str());

    asio::co_spawn((*runtime)->io(), accept_loop(acceptor, server), asio::detached);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
