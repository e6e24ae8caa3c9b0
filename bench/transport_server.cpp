// The helper's transport and router, natively, for the transport benchmark: the real HttpServer
// and HelperRouter on the helper runtime's threads, over a Core that is never asked (the
// benchmark reads GET /logs), on 127.0.0.1 with a system-chosen port.
//
//   bench_transport_server <port-file> <log-lines> [--io-per-worker]
//
// --io-per-worker: instead of the helper runtime's one shared io_context, one single-threaded
// io_context per worker, with accepted connections dealt out in turn (a layout to compare).
//
// Fills the log with <log-lines> lines, writes its port to <port-file> (and the /logs body to
// <port-file>.body, for the peer servers to serve the same bytes), then serves until killed.
//
// Every heap allocation of the process (malloc, calloc, realloc; operator new and nghttp2 come
// through them) is counted; SIGUSR1 writes the count so far to <port-file>.allocations.

#include "common/helper_log.hpp"
#include "service/hub/helper_router.hpp"
#include "service/peer/http/http_server.hpp"
#include "service/windows/helper_runtime.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <pthread.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {
std::atomic<unsigned long long> heap_allocations{0};
} // namespace

// glibc's own entry points stay reachable under these names; the process's calls land here.
extern "C" {
// NOLINTBEGIN(bugprone-reserved-identifier): glibc names them so
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
// NOLINTEND(bugprone-reserved-identifier)

void* malloc(std::size_t size) noexcept {
    heap_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    heap_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) noexcept {
    heap_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
}

namespace {

using namespace quorvex;

// Writes the allocation count whenever SIGUSR1 arrives; every other thread blocks the signal.
void report_allocations_on_signal(const std::string& path) {
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    for (;;) {
        int signal = 0;
        if (sigwait(&usr1, &signal) != 0) {
            return;
        }
        const unsigned long long count = heap_allocations.load();
        std::ofstream(path + ".partial") << count << '\n';
        if (std::rename((path + ".partial").c_str(), path.c_str()) != 0) {
            std::perror("bench_transport_server: rename");
        }
    }
}
namespace asio = boost::asio;

// The benchmark never reaches a Core operation; answering them keeps the router whole.
class IdleCore final : public hub::CoreOperations {
public:
    hub::PingOutcome ping_core(std::string) override { return hub::PingDigestMismatch{}; }
    hub::StartOutcome start_core(std::string, std::string) override { return hub::InvalidAddress{}; }
    hub::StopOutcome stop_core(std::string session_id) override { return hub::NotRunning{std::move(session_id)}; }
    std::optional<hub::StopOutcome> stop_core_at_once(std::string session_id) override {
        return hub::NotRunning{std::move(session_id)};
    }
};

asio::awaitable<void> accept_loop(asio::ip::tcp::acceptor& acceptor, http::HttpServer& server) {
    for (;;) {
        boost::system::error_code ec;
        auto socket = co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
        if (ec) {
            continue;
        }
        server.serve(std::move(socket));
    }
}

// Accepts on the first context and deals the connections out to the servers in turn.
asio::awaitable<void> deal_out(asio::ip::tcp::acceptor& acceptor, std::vector<std::unique_ptr<asio::io_context>>& ios,
                               std::vector<std::unique_ptr<http::HttpServer>>& servers) {
    for (std::size_t next = 0;; next = (next + 1) % ios.size()) {
        boost::system::error_code ec;
        auto socket = co_await acceptor.async_accept(*ios[next], asio::redirect_error(asio::use_awaitable, ec));
        if (ec) {
            continue;
        }
        servers[next]->serve(std::move(socket));
    }
}

} // namespace

// NOLINTNEXTLINE(bugprone-exception-escape): a failed benchmark ends with the runtime's report
int main(int argc, char** argv) {
    const bool io_per_worker = argc == 4 && std::string(argv[3]) == "--io-per-worker";
    if (argc != 3 && !io_per_worker) {
        (void)std::fputs("usage: bench_transport_server <port-file> <log-lines> [--io-per-worker]\n", stderr);
        return 2;
    }
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr); // inherited by every thread started from here
    std::thread(report_allocations_on_signal, std::string(argv[1]) + ".allocations").detach();

    int lines = 0;
    const std::string_view lines_text = argv[2];
    if (std::from_chars(lines_text.data(), lines_text.data() + lines_text.size(), lines).ec != std::errc{}) {
        (void)std::fputs("bench_transport_server: <log-lines> is not a number\n", stderr);
        return 2;
    }
    for (int i = 0; i < lines; ++i) {
        append_log("Core line " + std::to_string(i) + ": listening, nothing to report");
    }

    auto runtime = service::HelperRuntime::create(service::logical_processor_count());
    if (!runtime) {
        (void)std::fprintf(stderr, "bench_transport_server: %s\n", runtime.error().text().c_str());
        return 1;
    }
    IdleCore core;
    auto router = std::make_shared<hub::HelperRouter>(core, helper_log(), (*runtime)->blocking().get_executor());
    http::HttpServer server((*runtime)->io().get_executor(), router);
    asio::ip::tcp::acceptor acceptor((*runtime)->io(), {asio::ip::address_v4::loopback(), 0});

    std::vector<std::unique_ptr<asio::io_context>> ios;
    std::vector<std::unique_ptr<http::HttpServer>> servers;
    std::vector<std::thread> workers;
    if (io_per_worker) {
        for (unsigned i = 0; i < service::logical_processor_count(); ++i) {
            ios.push_back(std::make_unique<asio::io_context>(1));
            servers.push_back(std::make_unique<http::HttpServer>(ios.back()->get_executor(), router));
        }
        for (auto& io : ios) {
            workers.emplace_back([&io] {
                auto guard = asio::make_work_guard(*io);
                io->run();
            });
        }
    }

    const std::string port_file = argv[1];
    std::ofstream(port_file + ".body", std::ios::binary) << *helper_log().text();
    std::ofstream(port_file + ".partial") << acceptor.local_endpoint().port() << '\n';
    if (std::rename((port_file + ".partial").c_str(), port_file.c_str()) != 0) {
        std::perror("bench_transport_server: rename");
        return 1;
    }

    if (io_per_worker) {
        asio::co_spawn((*runtime)->io(), deal_out(acceptor, ios, servers), asio::detached);
    } else {
        asio::co_spawn((*runtime)->io(), accept_loop(acceptor, server), asio::detached);
    }
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}
