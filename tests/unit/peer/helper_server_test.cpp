#include "service/peer/helper_server.hpp"

#include "../fake_core_platform.hpp"
#include "../recording_reporter.hpp"
#include "common/helper_log.hpp"
#include "service/peer/helper_port.hpp"
#include "service/peer/owner_acceptor.hpp"
#include "service/windows/helper_wiring.hpp"
#include "service/windows/service_host.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <future>
#include <optional>
#include <thread>

namespace quorvex::peer {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

const std::string OWNER = "S-1-5-21-1-2-3-1000";

using service::testing::RecordingReporter;

class AnswerEverything final : public http::RequestHandler {
public:
    http::HeadDecision answer_at_once(const http::RequestHead&) override {
        return http::PendingRoute([](http::RequestHead head, http::BodyReader&) { return served(std::move(head)); });
    }
    static asio::awaitable<http::Reply> served(http::RequestHead head) {
        co_return http::Reply{200, {{"Content-Type", "text/plain"}}, "served " + head.target};
    }
};

// The real loopback listener and transport; the system-specific parts scripted.
class FakePlatform final : public HelperServerPlatform {
public:
    Result<tcp::acceptor> open_listener(const asio::any_io_executor& executor) override {
        if (bind_error) {
            return fail(Error::message("address in use"));
        }
        return open_loopback_listener(executor);
    }
    Result<void> publish_port(std::uint16_t port) override {
        events.emplace_back("publish");
        if (publish_error) {
            return fail(Error::message("registry refused"));
        }
        published.set_value(port);
        return {};
    }
    void unpublish_port() override { events.emplace_back("unpublish"); }
    std::vector<PeerVerdict> peer_verdicts(std::span<const tcp::socket> connections,
                                           std::string_view owner_sid) override {
        peer_checks += static_cast<int>(connections.size());
        ++check_calls;
        EXPECT_EQ(owner_sid, OWNER);
        if (during_first_check) {
            std::exchange(during_first_check, nullptr)();
        }
        return std::vector<PeerVerdict>(connections.size(), verdict.load());
    }

    bool bind_error = false;
    bool publish_error = false;
    std::atomic<PeerVerdict> verdict{PeerVerdict::admitted};
    std::atomic<int> peer_checks{0}; // connections checked
    std::atomic<int> check_calls{0};
    std::function<void()> during_first_check; // runs inside the first check, on the server's thread
    std::vector<std::string> events;          // touched only by the server task and after it ended
    std::promise<std::uint16_t> published;
};

// Runs a server on its own io_context thread; stop() requests the stop like the control handler.
class ServerRun {
public:
    using Server = std::function<asio::awaitable<Result<void>>(ServerHost&)>;

    // run_helper_server over `platform`, with a router that answers every request.
    explicit ServerRun(FakePlatform& platform, bool stop_first = false, bool fail_running = false)
        : ServerRun(
              [&platform](ServerHost& host) {
                  return run_helper_server(OWNER, host, platform, std::make_shared<AnswerEverything>(),
                                           [&platform] { platform.events.emplace_back("stop core"); });
              },
              stop_first, fail_running) {}

    explicit ServerRun(const Server& server, bool stop_first = false, bool fail_running = false) {
        if (fail_running) {
            reporter.refuse(SERVICE_STATE_RUNNING);
        }
        if (stop_first) {
            stop_.trigger();
        }
        host_.emplace(stop_, reporter);
        asio::co_spawn(io_, server(*host_), [this](const std::exception_ptr& e, Result<void> r) {
            if (e) {
                result_.set_exception(e);
            } else {
                result_.set_value(std::move(r));
            }
        });
        thread_ = std::thread([this] { io_.run(); });
    }
    ~ServerRun() {
        if (thread_.joinable()) {
            stop();
            finish();
        }
    }
    void stop() { stop_.trigger(); }
    Result<void> finish() {
        auto r = result_.get_future().get();
        thread_.join();
        return r;
    }
    RecordingReporter reporter;

private:
    asio::io_context io_;
    service::StopSignal stop_{io_.get_executor()};
    std::optional<service::ScmServerHost> host_;
    std::promise<Result<void>> result_;
    std::thread thread_;
};

std::string exchange(std::uint16_t port, const std::string& request) {
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect({asio::ip::address_v4::loopback(), port});
    asio::write(socket, asio::buffer(request));
    std::string reply;
    boost::system::error_code error;
    asio::read(socket, asio::dynamic_buffer(reply), error); // until the server closes
    return reply;
}

TEST(HelperServer, ServesAfterPublishingAndCleansUpInOrderOnStop) {
    FakePlatform platform;
    ServerRun run(platform);
    const std::uint16_t port = platform.published.get_future().get();
    EXPECT_NE(port, 0);
    const std::string reply = exchange(port, "GET /x HTTP/1.1\r\nhost: localhost\r\nconnection: close\r\n\r\n");
    EXPECT_NE(reply.find("200"), std::string::npos);
    EXPECT_NE(reply.find("served /x"), std::string::npos);
    run.stop();
    ASSERT_TRUE(run.finish());
    EXPECT_EQ(platform.events, (std::vector<std::string>{"publish", "unpublish", "stop core"}));
    EXPECT_EQ(run.reporter.states(),
              (std::vector<std::uint32_t>{SERVICE_STATE_RUNNING, service::SERVICE_STATE_STOP_PENDING}));
}

TEST(HelperServer, StopRequestedBeforeServingAcceptsNothing) {
    FakePlatform platform;
    ServerRun run(platform, /*stop_first=*/true);
    ASSERT_TRUE(run.finish());
    EXPECT_EQ(platform.peer_checks, 0);
    EXPECT_EQ(platform.events, (std::vector<std::string>{"publish", "unpublish", "stop core"}));
}

TEST(HelperServer, RefusedConnectionsAreClosedSilentlyAndEachReasonLoggedOnce) {
    FakePlatform platform;
    ServerRun run(platform);
    const std::uint16_t port = platform.published.get_future().get();
    // Only the lines of this run count: the log is shared by every test of the process.
    const std::string marker = "refusal test begins";
    append_log(marker);
    for (const auto verdict : {PeerVerdict::foreign_account, PeerVerdict::below_medium_integrity}) {
        platform.verdict = verdict;
        EXPECT_EQ(exchange(port, "GET /x HTTP/1.1\r\n\r\n"), "");
        EXPECT_EQ(exchange(port, "GET /y HTTP/1.1\r\n\r\n"), "");
    }
    EXPECT_EQ(platform.peer_checks, 4);
    const auto lines = helper_log().lines();
    const auto since_marker = std::find(lines.rbegin(), lines.rend(), marker).base();
    ASSERT_NE(since_marker, lines.begin());
    EXPECT_EQ(std::vector<std::string>(since_marker, lines.end()),
              (std::vector<std::string>{"Helper refused a connection from an account other than its owner",
                                        "Helper refused a connection from a process of its owner below medium "
                                        "integrity"}));
}

TEST(HelperServer, ConnectionsThatQueueDuringACheckAreCheckedTogether) {
    FakePlatform platform;
    asio::io_context clients;
    std::vector<std::unique_ptr<tcp::socket>> waiting;
    std::uint16_t port = 0;
    // While the first connection is being checked, five more connect and wait in the queue.
    platform.during_first_check = [&] {
        for (int i = 0; i < 5; ++i) {
            waiting.push_back(std::make_unique<tcp::socket>(clients));
            waiting.back()->connect({asio::ip::address_v4::loopback(), port});
        }
    };
    ServerRun run(platform);
    port = platform.published.get_future().get();
    const std::string first = exchange(port, "GET /first HTTP/1.1\r\nhost: localhost\r\nconnection: close\r\n\r\n");
    EXPECT_NE(first.find("served /first"), std::string::npos);
    for (auto& socket : waiting) {
        asio::write(*socket,
                    asio::buffer(std::string("GET /queued HTTP/1.1\r\nhost: localhost\r\nconnection: close\r\n\r\n")));
        std::string reply;
        boost::system::error_code error;
        asio::read(*socket, asio::dynamic_buffer(reply), error);
        EXPECT_NE(reply.find("served /queued"), std::string::npos);
    }
    EXPECT_EQ(platform.peer_checks, 6);
    EXPECT_EQ(platform.check_calls, 2) << "the five queued connections are checked in one call";
}

TEST(HelperServer, StartupFailuresNameTheirStepAndUndoWhatWasDone) {
    {
        FakePlatform platform;
        platform.bind_error = true;
        ServerRun run(platform);
        auto r = run.finish();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().text(), "bind helper server: address in use");
        EXPECT_TRUE(platform.events.empty());
        EXPECT_TRUE(run.reporter.states().empty());
    }
    {
        FakePlatform platform;
        platform.publish_error = true;
        ServerRun run(platform);
        auto r = run.finish();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().text(), "publish helper server port: registry refused");
        EXPECT_EQ(platform.events, std::vector<std::string>{"publish"});
        EXPECT_TRUE(run.reporter.states().empty());
    }
    {
        FakePlatform platform;
        ServerRun run(platform, /*stop_first=*/false, /*fail_running=*/true);
        auto r = run.finish();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().links(), (std::vector<std::string>{"report helper service running", "status refused"}));
        EXPECT_EQ(platform.events, (std::vector<std::string>{"publish", "unpublish"}));
    }
}

// The product's wiring over scripted platforms: a ping reaches the supervisor through the router
// and the runtime's blocking pool, and the run loop serves over the server platform it was given.
TEST(HelperWiring, ServesThroughTheSupervisorOverItsPlatforms) {
    auto core_platform = std::make_unique<hub::testing::FakeCorePlatform>();
    auto server_platform = std::make_unique<FakePlatform>();
    hub::testing::FakeCorePlatform& core = *core_platform;
    FakePlatform& server = *server_platform;
    HelperLog log;
    service::HelperWiring wiring(
        {std::move(core_platform), std::move(server_platform), std::make_unique<hub::testing::FakeClock>()}, log);
    auto runtime = service::HelperRuntime::create(1);
    ASSERT_TRUE(runtime);
    {
        ServerRun run([&](ServerHost& host) { return wiring.serve(OWNER, host, **runtime); });
        const std::uint16_t port = server.published.get_future().get();
        // Qualified: a std::string argument would bring std::exchange in.
        const std::string reply = peer::exchange(port, "GET /ping?coreSha256=" + std::string(EXPECTED_CORE_SHA256) +
                                                           " HTTP/1.1\r\nhost: localhost\r\nconnection: close\r\n\r\n");
        EXPECT_NE(reply.find("200 OK"), std::string::npos) << reply;
        EXPECT_NE(reply.find(hub::testing::FAKE_HELPER_PATH), std::string::npos) << reply;
        run.stop();
        ASSERT_TRUE(run.finish());
    }
    EXPECT_EQ(core.events.all(),
              (std::vector<std::string>{"resolve", "open " + hub::testing::FAKE_CORE_PATH, "own path"}));
    EXPECT_EQ(server.events, (std::vector<std::string>{"publish", "unpublish"}));
    (*runtime)->shutdown();
}

} // namespace
} // namespace quorvex::peer
