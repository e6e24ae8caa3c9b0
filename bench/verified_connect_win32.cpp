// The client's verified connect under Wine, step by step, against a bare TCP connect with the
// same request. Each round: a new HelperClient's ping (the verified connect, then
// GET /ping?coreSha256=...), then each step of it on its own, then a plain connect and the same
// request.
//
//   bench_verified_connect.exe [rounds]
//
// Prints "<step>_ms,<median>" lines over `rounds` (default 21), the installed helper running.

#include "client/helper_client.hpp"
#include "client/helper_connection_win32.hpp"
#include "client/helper_service.hpp"
#include "common/helper_contract.hpp"
#include "platform/tcp_owner_table.hpp"
#include "platform/win32/system_tcp_table.hpp"
#include "elapsed_ms_win32.hpp"

#include <windows.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

namespace {

namespace http = boost::beast::http;
using namespace quorvex;

// The helper's own Core digest, as the control tool sends it: a ping that succeeds.
const std::string_view PING_SHA256 = EXPECTED_CORE_SHA256;

// A plain connect and the same request, its whole reply read; false when either failed.
bool bare_ping(std::uint16_t port, double& connect_ms, double& request_ms) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    boost::system::error_code error;
    const double began = now_ms();
    (void)socket.connect({boost::asio::ip::address_v4::loopback(), port}, error);
    connect_ms = now_ms() - began;
    if (error) {
        return false;
    }
    const double sent = now_ms();
    http::request<http::string_body> request{http::verb::get, "/ping?coreSha256=" + std::string(PING_SHA256), 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    http::write(socket, request, error);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> reply;
    if (!error) {
        http::read(socket, buffer, reply, error);
    }
    request_ms = now_ms() - sent;
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, error);
    return reply.result_int() != 0;
}

} // namespace

int main(int argc, char** argv) try {
    const int rounds = argc == 2 ? std::max(1, static_cast<int>(std::strtol(argv[1], nullptr, 10))) : 21;
    std::map<std::string, std::vector<double>> steps;
    for (int round = 0; round < rounds; ++round) {
        double began = now_ms();
        {
            client::HelperClient client;
            if (const auto pinged = client.ping(PING_SHA256); !pinged) {
                (void)std::fprintf(stderr, "bench_verified_connect: the verified ping failed: %s\n",
                                   pinged.error().error.text().c_str());
                return 1;
            }
        }
        steps["verified_ping"].push_back(now_ms() - began);

        const auto system = client::win32_helper_system();
        began = now_ms();
        const auto state = system->service_state();
        steps["service_query"].push_back(now_ms() - began);
        if (!state) {
            (void)std::fputs("bench_verified_connect: the helper service is not found\n", stderr);
            return 1;
        }
        began = now_ms();
        const auto process = client::live_service_process(*system, state->pid);
        steps["process_check"].push_back(now_ms() - began);
        began = now_ms();
        const auto published = system->published_port();
        steps["port_read"].push_back(now_ms() - began);
        began = now_ms();
        {
            peer::SystemTcpTable source;
            peer::TcpTableReader reader;
            (void)reader.read(source);
        }
        steps["tcp_table_read"].push_back(now_ms() - began);
        if (!process || !published) {
            (void)std::fputs("bench_verified_connect: the helper service is not found\n", stderr);
            return 1;
        }
        began = now_ms();
        auto connection = client::HelperConnection::open({*process, *published}, *system);
        steps["checked_connect"].push_back(now_ms() - began);
        began = now_ms();
        if (!connection ||
            !(*connection)->exchange(http::verb::get, "/ping?coreSha256=" + std::string(PING_SHA256), {})) {
            (void)std::fputs("bench_verified_connect: the checked connection failed\n", stderr);
            return 1;
        }
        steps["request"].push_back(now_ms() - began);
        connection->reset();

        double connect_ms = 0;
        double request_ms = 0;
        began = now_ms();
        if (!bare_ping(published->port, connect_ms, request_ms)) {
            (void)std::fputs("bench_verified_connect: the bare connect failed\n", stderr);
            return 1;
        }
        steps["bare_ping"].push_back(now_ms() - began);
        steps["bare_connect"].push_back(connect_ms);
        steps["bare_request"].push_back(request_ms);
    }
    for (auto& [step, times] : steps) {
        std::sort(times.begin(), times.end());
        std::printf("%s_ms,%.3f\n", step.c_str(), times[times.size() / 2]);
    }
    return 0;
} catch (const std::exception& e) {
    (void)std::fprintf(stderr, "bench_verified_connect: %s\n", e.what());
    return 1;
}
