// Load on the real transport and router over loopback: h2load drives 500 HTTP/1.1 keep-alive
// connections of 200 requests each, and 20 HTTP/2 connections of 100 concurrent streams (1000
// requests each); then 1000 idle connections and a drain. Every request must be answered correctly and nothing may be
// left open. The figures (requests per second, memory per idle connection) are printed, never asserted: scripts/load
// prints them from an optimised build.

#include "heap_usage.hpp"
#include "http2_test_client.hpp"
#include "loopback_client.hpp"
#include "served_router.hpp"
#include "service/hub/core_supervisor.hpp"
#include "service/peer/helper_port.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

namespace quorvex::http {
namespace {

using namespace std::chrono_literals;
using test::RawClient;

void report_figure(const std::string& name, double value, const std::string& unit) {
    std::cout << "figure: " << name << ": " << static_cast<long long>(value) << " " << unit << std::endl;
}

// The sockets this process holds whose local end is 127.0.0.1:`port`: the server's listener and
// every connection it accepted (a client's local end is another port). Counting these rather
// than every descriptor keeps whatever else the process opens and closes meanwhile out of it.
std::size_t server_sockets(unsigned short port) {
    std::size_t count = 0;
    // std::filesystem rather than readdir: the server threads run meanwhile.
    std::error_code error;
    std::filesystem::directory_iterator entry("/proc/self/fd", error);
    for (; !error && entry != std::filesystem::directory_iterator{}; entry.increment(error)) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        // A descriptor closed since the listing, or one that is no IPv4 socket, fails or differs.
        if (::getsockname(std::stoi(entry->path().filename().string()), reinterpret_cast<sockaddr*>(&local), &length) ==
                0 &&
            local.sin_family == AF_INET && ntohs(local.sin_port) == port &&
            ntohl(local.sin_addr.s_addr) == INADDR_LOOPBACK) {
            ++count;
        }
    }
    return count;
}

// The number captured by `pattern` in h2load's summary.
double h2load_number(const std::string& output, const std::string& pattern) {
    std::smatch match;
    if (!std::regex_search(output, match, std::regex(pattern))) {
        ADD_FAILURE() << "no match for " << pattern << " in:\n" << output;
        return -1;
    }
    return std::stod(match[1].str());
}

struct LoadRun {
    const char* name;
    std::string options; // h2load's protocol, connections, streams
    int connections;
    int requests;
};

// Half the requests ping (the blocking pool and the Core operations), half read the log.
void run_h2load(const LoadRun& run) {
    test::ServedRouter served(2, peer::LISTEN_BACKLOG);
    ASSERT_EQ(server_sockets(served.server.port()), 1u) << "the listener alone";
    const auto base = "http://127.0.0.1:" + std::to_string(served.server.port());
    const auto ping = base + "/ping?coreSha256=" + std::string(EXPECTED_CORE_SHA256);
    const auto result = test::run_command(
        "h2load " + run.options + " -n " + std::to_string(run.requests) + " " + ping + " " + base + "/logs", 240);
    ASSERT_EQ(result.status, 0) << result.output;

    const auto requests = std::to_string(run.requests);
    EXPECT_NE(result.output.find("requests: " + requests + " total, " + requests + " started, " + requests + " done, " +
                                 requests + " succeeded, 0 failed, 0 errored, 0 timeout"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("status codes: " + requests + " 2xx, 0 3xx, 0 4xx, 0 5xx"), std::string::npos)
        << result.output;
    // Every ping answered with the helper path, every log read with the empty log: the body
    // bytes add up exactly.
    const auto pings = run.requests / 2;
    EXPECT_EQ(h2load_number(result.output, R"(\((\d+)\) data)"),
              static_cast<double>(pings) * test::SERVED_HELPER_PATH.size())
        << result.output;
    EXPECT_EQ(served.core.pings, pings);
    // Keep-alive: no connection was opened twice.
    EXPECT_EQ(served.server.accepted(), run.connections);
    // Every connection ended, and each closed its socket: the listener is all that is left.
    EXPECT_TRUE(served.settles_at(0));
    EXPECT_EQ(server_sockets(served.server.port()), 1u);

    report_figure(run.name, h2load_number(result.output, R"(finished in [0-9.]+m?s, ([0-9.]+) req/s)"), "requests/s");
}

TEST(Load, FiveHundredHttp1KeepAliveConnectionsOfTwoHundredRequestsEach) {
    run_h2load({"HTTP/1.1, 500 keep-alive connections x 200 requests", "--h1 -c 500 -m 1", 500, 100000});
}

TEST(Load, TwentyHttp2ConnectionsOfAHundredConcurrentStreams) {
    run_h2load({"HTTP/2, 20 connections x 100 concurrent streams", "-c 20 -m 100", 20, 20000});
}

// A connection that has been served once and now waits; HTTP/2 acknowledges the server's
// SETTINGS, as a real client would.
std::unique_ptr<RawClient> idle_connection(unsigned short port, bool http2) {
    auto client = std::make_unique<RawClient>(port);
    if (!http2) {
        (void)client->send("GET /logs HTTP/1.1\r\nHost: localhost\r\n\r\n");
        EXPECT_TRUE(client->read_reply().starts_with("HTTP/1.1 200 OK\r\n"));
        return client;
    }
    test::Http2TestClient session;
    const auto stream = session.request("GET", "/logs");
    (void)client->send(session.take_output());
    std::size_t fed = 0;
    for (int i = 0; i < 100 && !session.streams[stream].closed && client->read_more(50ms); ++i) {
        (void)session.receive(client->received().substr(fed));
        fed = client->received().size();
    }
    EXPECT_EQ(session.streams[stream].header(":status"), "200");
    (void)client->send(session.take_output());
    return client;
}

// Waits until every client has seen its connection end; how many did within `wait`.
std::size_t count_closed(const std::vector<std::unique_ptr<RawClient>>& clients, std::chrono::milliseconds wait) {
    std::vector<bool> closed(clients.size(), false);
    std::size_t count = 0;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (count < clients.size() && std::chrono::steady_clock::now() < deadline) {
        std::vector<pollfd> fds;
        std::vector<std::size_t> which;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (!closed[i]) {
                fds.push_back({clients[i]->fd(), POLLIN, 0});
                which.push_back(i);
            }
        }
        if (::poll(fds.data(), fds.size(), 100) <= 0) {
            continue;
        }
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents == 0) {
                continue;
            }
            char buffer[4096];
            const auto n = ::recv(fds[k].fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed[which[k]] = true;
                ++count;
            }
        }
    }
    return count;
}

TEST(Load, AThousandIdleConnectionsCostLittleAndOneDrainClosesThemAll) {
    // Each connection is two descriptors in this process: the client's and the server's.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 4096));
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ASSERT_GE(limit.rlim_cur, 2100u) << "too few file descriptors allowed";

    test::ServedRouter served(2, peer::LISTEN_BACKLOG);
    const auto port = served.server.port();
    std::vector<std::unique_ptr<RawClient>> clients;
    clients.reserve(1000);

    struct Kind {
        const char* name;
        int count;
        int protocol; // 1, 2, or 0 for a connection that never sent a byte
    };
    const Kind kinds[] = {{"HTTP/1.1", 400, 1}, {"HTTP/2", 400, 2}, {"silent", 200, 0}};
    for (const auto& kind : kinds) {
        ASSERT_TRUE(served.settles_at(clients.size()));
        const auto heap = test::live_heap_bytes();
        const auto resident = test::resident_bytes();
        for (int i = 0; i < kind.count; ++i) {
            clients.push_back(kind.protocol == 0 ? std::make_unique<RawClient>(port)
                                                 : idle_connection(port, kind.protocol == 2));
            ASSERT_TRUE(clients.back()->connected());
        }
        ASSERT_TRUE(served.settles_at(clients.size())) << kind.name;
        const double heap_each =
            (static_cast<double>(test::live_heap_bytes()) - static_cast<double>(heap)) / kind.count;
        const double resident_each =
            (static_cast<double>(test::resident_bytes()) - static_cast<double>(resident)) / kind.count;
        report_figure(std::string("heap per idle ") + kind.name + " connection", heap_each, "bytes");
        report_figure(std::string("resident memory per idle ") + kind.name + " connection", resident_each, "bytes");
        // A bound, not a figure: an idle connection must not hold its read buffers at their limit.
        EXPECT_LT(heap_each, 256.0 * 1024) << kind.name;
    }
    ASSERT_EQ(served.server.open_connections(), 1000u);

    auto drained = served.server.drain();
    EXPECT_EQ(count_closed(clients, 10s), clients.size());
    EXPECT_EQ(drained.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(served.server.open_connections(), 0u);
}

} // namespace
} // namespace quorvex::http
