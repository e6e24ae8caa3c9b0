// A Core that floods its error stream, relayed over a real pipe into the log and read back
// through the logs endpoint of the real router and transport: the log keeps its 100 lines, one
// line never grows past the cap, the writer is never left stuck, and the lines come back intact.

#include "fake_core_platform.hpp"
#include "heap_usage.hpp"
#include "loopback_client.hpp"
#include "served_router.hpp"
#include "service/hub/core_output_relay.hpp"
#include "service/hub/core_supervisor.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <future>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace quorvex::http {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string SESSION = "0123456789abcdef0123456789abcdef";
const std::string ADDRESS = std::string(CORE_PIPE_PREFIX) + SESSION;

// The read end of a real pipe, as the relay sees the Core's error stream.
class PipeCoreOutput final : public hub::CoreOutput {
public:
    explicit PipeCoreOutput(int fd) : fd_(fd) {}
    ~PipeCoreOutput() override { ::close(fd_); }
    PipeCoreOutput(const PipeCoreOutput&) = delete;
    PipeCoreOutput& operator=(const PipeCoreOutput&) = delete;

    [[nodiscard]] Result<std::size_t> read(std::span<char> buffer) override {
        for (;;) {
            const auto n = ::read(fd_, buffer.data(), buffer.size());
            if (n >= 0) {
                return static_cast<std::size_t>(n);
            }
            if (errno != EINTR) {
                // The relay reads on its own thread while the writer and server threads run.
                const int code = errno;
                return fail(Error::os(code, std::generic_category().message(code)));
            }
        }
    }

private:
    int fd_;
};

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

const std::string NUL_LINE("nul\0in\0the line", 15);
const std::string ESCAPE_LINE = "\x1b[31mred\x1b[0m \x1b]0;title\x07 \x1b"
                                "c";
constexpr int LINE_COUNT = 1000000;

// What the flooding Core writes: a million short lines in large writes, as a buffered writer
// would, then NUL bytes and escape sequences, then 10 MiB without a line feed; then it ends.
bool write_flood(int fd) {
    std::string batch;
    for (int i = 0; i < LINE_COUNT; ++i) {
        batch += "line " + std::to_string(i) + "\n";
        if (batch.size() >= std::size_t{64} * 1024 || i + 1 == LINE_COUNT) {
            if (!write_all(fd, batch)) {
                return false;
            }
            batch.clear();
        }
    }
    if (!write_all(fd, NUL_LINE + "\n" + ESCAPE_LINE + "\r\n")) {
        return false;
    }
    const std::string chunk(std::size_t{64} * 1024, 'x');
    for (int i = 0; i < 160; ++i) {
        if (!write_all(fd, chunk)) {
            return false;
        }
    }
    return true;
}

std::string joined(const Lines& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += (i == 0 ? "" : "\n") + lines[i];
    }
    return text;
}

TEST(RelayFlood, TheLogKeepsTheNewestLinesWholeAndTheEndpointReturnsThemIntact) {
    test::ServedRouter served;
    hub::testing::FakeCorePlatform platform;
    hub::testing::FakeClock clock;
    hub::CoreSupervisor supervisor(platform, served.log, clock,
                                   [](const std::string&, std::unique_ptr<hub::CoreOutput>) {});
    ASSERT_TRUE(std::holds_alternative<hub::Started>(supervisor.start_core(ADDRESS, SESSION)));
    platform.cores.at(0)->exit_code = 0; // it has ended by the time its stream does

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    test::HeapPeak peak;
    auto relay = std::async(std::launch::async, [&, read_end = ends[0]] {
        hub::relay_core_output(std::make_unique<PipeCoreOutput>(read_end), served.log,
                               [&] { supervisor.watch_core_exit(SESSION); });
    });
    auto writer = std::async(std::launch::async, [write_end = ends[1]] {
        const bool written = write_flood(write_end);
        ::close(write_end);
        return written;
    });
    // Bounds a hang, not a speed: a writer stuck on a full pipe never finishes.
    ASSERT_EQ(writer.wait_for(120s), std::future_status::ready);
    EXPECT_TRUE(writer.get()) << "the relay stopped reading";
    ASSERT_EQ(relay.wait_for(30s), std::future_status::ready);
    // The log and the line being assembled are all the relay holds.
    EXPECT_LT(peak.stop(), 2 * 1024 * 1024);

    Lines expected;
    for (int i = LINE_COUNT - 96; i < LINE_COUNT; ++i) {
        expected.push_back("line " + std::to_string(i));
    }
    expected.push_back(NUL_LINE);
    expected.push_back(ESCAPE_LINE);
    expected.push_back(std::string(hub::CoreLineSplitter::MAX_LINE_BYTES, 'x'));
    expected.push_back("Core exited on its own: exit code: 0");
    const auto lines = served.log.lines();
    ASSERT_EQ(lines.size(), HelperLog::CAPACITY);
    EXPECT_TRUE(lines == expected) << "first kept line: " << lines.front();

    // The same bytes through the logs endpoint, over HTTP/1.1 and HTTP/2.
    test::RawClient h1(served.server.port());
    ASSERT_TRUE(h1.send("GET /logs HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    const auto reply = h1.read_reply();
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(reply.ends_with("\r\n\r\n" + joined(expected))) << "the HTTP/1.1 body differs";

    test::Http2LoopbackClient h2(served.server.port());
    const auto stream = h2.session.request("GET", "/logs");
    ASSERT_TRUE(h2.exchange_until([&] { return h2.session.streams[stream].closed; }));
    EXPECT_EQ(h2.session.streams[stream].header(":status"), "200");
    EXPECT_TRUE(h2.session.streams[stream].body == joined(expected)) << "the HTTP/2 body differs";
}

} // namespace
} // namespace quorvex::http
