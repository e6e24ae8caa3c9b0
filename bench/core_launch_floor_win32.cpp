// The installed helper's POST /start and POST /stop against their floor under Wine, in one
// process, one operation of each side after the other. The floor is the Win32 Core platform's
// own calls with no service, request or relay thread around them: a start opens the Core file,
// hashes it with CNG, creates the process suspended, puts it in its Job object and resumes it; a
// stop is TerminateProcess and a wait for the process to end. Beside them, one round trip to the
// helper (a request answered at once, a 404) over the same keep-alive connection as the helper's
// operations, so that the floor of an operation is its calls plus one round trip.
//
// Each round runs the helper's start and stop and the floor's start, round trip and stop, the side
// that goes first alternating from round to round: a drift of the machine's load reaches both
// sides within milliseconds of each other. The floor's round trip runs between its start and its
// stop, where the helper's Core lives through the start's reply and the stop's request, so that
// both sides end a Core of the same age (ending one still in its start-up is cheaper).
//
//   bench_core_launch.exe <Core file> <address> <session ID> [rounds]
//
// Prints "<what>,<ms>" for each round and each of helper_start, helper_stop, floor_start,
// floor_stop and trip (rounds default 21).

#include "client/helper_service.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"
#include "service/hub/core_platform_win32.hpp"
#include "service/hub/sha256_digest.hpp"
#include "elapsed_ms_win32.hpp"

#include <windows.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace {

namespace http = boost::beast::http;

// The digest verify_core_file expects, so that it succeeds as in a start.
std::string digest_of(const std::wstring& path) {
    const quorvex::win32::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    auto digest = quorvex::hub::Sha256::create();
    if (!file || !digest) {
        return {};
    }
    std::array<char, 4096> buffer;
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
        if (!digest->update({buffer.data(), got})) {
            return {};
        }
    }
    auto hex = digest->hex_digest();
    return hex ? *hex : std::string();
}

// One keep-alive connection to the installed helper.
class HelperConnection {
public:
    HelperConnection() : socket_(io_) {
        auto published = quorvex::client::win32_helper_system()->published_port();
        if (!published) {
            throw std::runtime_error("the helper has published no port");
        }
        port_ = published->port;
        socket_.connect({boost::asio::ip::address_v4::loopback(), port_});
        socket_.set_option(boost::asio::ip::tcp::no_delay(true));
    }

    // Milliseconds from the request's first byte to the reply's last; throws unless the reply
    // has `status`.
    double exchange(http::verb verb, const std::string& target, const std::string& body, unsigned status) {
        http::request<http::string_body> request{verb, target, 11};
        request.set(http::field::host, "127.0.0.1:" + std::to_string(port_));
        if (!body.empty()) {
            request.set(http::field::content_type, "application/json");
            request.body() = body;
        }
        request.prepare_payload();
        http::response<http::string_body> reply;
        const double began = now_ms();
        http::write(socket_, request);
        http::read(socket_, buffer_, reply);
        const double took = now_ms() - began;
        if (reply.result_int() != status) {
            throw std::runtime_error(target + " answered " + std::to_string(reply.result_int()) + ": " + reply.body());
        }
        return took;
    }

private:
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    boost::beast::flat_buffer buffer_;
    std::uint16_t port_ = 0;
};

void print(const char* what, double ms) { std::printf("%s,%.3f\n", what, ms); }

// The floor's start and stop, with `between` run between them: the Core then ends as old as the
// helper's, whose stop follows the start's reply and the stop's request.
void floor_start_stop(quorvex::hub::Win32CorePlatform& platform, const std::string& core_path,
                      const std::string& address, const std::function<void()>& between) {
    const double began = now_ms();
    auto verified = platform.verify_core_file(core_path);
    if (!verified) {
        throw std::runtime_error("verify: " + verified.error().text());
    }
    auto launched = (*verified)->launch(address);
    if (!launched) {
        throw std::runtime_error("launch: " + launched.error().text());
    }
    auto job = launched->process->confine();
    if (!job) {
        throw std::runtime_error("confine: " + job.error().text());
    }
    if (auto resumed = launched->process->resume(); !resumed) {
        throw std::runtime_error("resume: " + resumed.error().text());
    }
    print("floor_start", now_ms() - began);
    verified->reset();
    between();

    const double stopping = now_ms();
    const quorvex::Result<bool> ended = launched->process->terminate(1, std::chrono::seconds(10));
    if (!ended || !*ended) {
        throw std::runtime_error("the Core did not end on termination");
    }
    print("floor_stop", now_ms() - stopping);
}

// The address as a JSON string's contents: every backslash escaped.
std::string json_escaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

} // namespace

int main(int argc, char** argv) try {
    if (argc != 4 && argc != 5) {
        (void)std::fputs("usage: bench_core_launch <Core file> <address> <session ID> [rounds]\n", stderr);
        return 2;
    }
    const std::string core_path = argv[1];
    const std::string address = argv[2];
    const std::string session = argv[3];
    const int rounds = argc == 5 ? std::max(1, static_cast<int>(std::strtol(argv[4], nullptr, 10))) : 21;
    quorvex::hub::Win32CorePlatform platform(digest_of(quorvex::win32::to_wide(core_path)));
    HelperConnection helper;
    const std::string start_body = R"({"address":")" + json_escaped(address) + R"(","sessionId":")" + session + "\"}";
    const std::string stop_body = R"({"sessionId":")" + session + "\"}";

    const auto helper_start_stop = [&] {
        print("helper_start", helper.exchange(http::verb::post, "/start", start_body, 200));
        print("helper_stop", helper.exchange(http::verb::post, "/stop", stop_body, 200));
    };
    const auto trip = [&] { print("trip", helper.exchange(http::verb::get, "/none", {}, 404)); };
    // The helper checks the connection's owner before it reads the first request: that check
    // belongs to the connect, not to the first round's start.
    (void)helper.exchange(http::verb::get, "/none", {}, 404);
    const auto floor_start_trip_stop = [&] { floor_start_stop(platform, core_path, address, trip); };
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            helper_start_stop();
            floor_start_trip_stop();
        } else {
            floor_start_trip_stop();
            helper_start_stop();
        }
    }
    return 0;
} catch (const std::exception& e) {
    (void)std::fprintf(stderr, "bench_core_launch: %s\n", e.what());
    return 1;
}
