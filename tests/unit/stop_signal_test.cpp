#include "recording_reporter.hpp"
#include "service/windows/service_host.hpp"
#include "service/windows/stop_request.hpp"
#include "service/windows/stop_signal.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace quorvex::service {
namespace {

// The control handler's request, told to a StopSignal on `io` and awaited through the host, as
// the service host wires them.
struct StopSignalTest : ::testing::Test {
    testing::RecordingReporter reporter;
    boost::asio::io_context io;
    StopSignal stop{io.get_executor()};
    ScmServerHost host{stop, reporter};
    StopRequest request;
    std::atomic<bool> completed = false;

    void listen() {
        request.listen([stop = stop] { stop.trigger(); });
    }
    // Starts awaiting the host's stop on `io`; `completed` turns true when the wait returns.
    void spawn_wait() {
        boost::asio::co_spawn(
            io,
            [](ScmServerHost& host, std::atomic<bool>& done) -> boost::asio::awaitable<void> {
                co_await host.stop_requested();
                done = true;
            }(host, completed),
            boost::asio::detached);
    }
};

TEST_F(StopSignalTest, CompletesAtOnceWhenAlreadyStopped) {
    listen();
    EXPECT_EQ(handle_service_control(CONTROL_STOP, request), CONTROL_HANDLED);
    io.run(); // the trigger lands before the wait begins
    io.restart();
    spawn_wait();
    io.run();
    EXPECT_TRUE(completed);
    EXPECT_EQ(reporter.reports(), std::vector<ServiceStatusReport>{STOPPING_REPORT});
}

TEST_F(StopSignalTest, StopBeforeAnybodyListensIsToldOnListening) {
    // The SCM may send the stop before the runtime exists.
    EXPECT_EQ(handle_service_control(CONTROL_STOP, request), CONTROL_HANDLED);
    spawn_wait();
    io.poll();
    EXPECT_FALSE(completed);
    listen();
    io.run();
    EXPECT_TRUE(completed);
    EXPECT_EQ(reporter.reports(), std::vector<ServiceStatusReport>{STOPPING_REPORT});
}

TEST_F(StopSignalTest, WaitsUntilAStopControlFromAnotherThread) {
    listen();
    spawn_wait();
    io.poll();
    EXPECT_FALSE(completed);
    EXPECT_TRUE(reporter.reports().empty());

    std::thread control([&] { EXPECT_EQ(handle_service_control(CONTROL_STOP, request), CONTROL_HANDLED); });
    io.run(); // the pending wait keeps run() going until the control wakes it
    control.join();
    EXPECT_TRUE(completed);
    EXPECT_EQ(reporter.reports(), std::vector<ServiceStatusReport>{STOPPING_REPORT});
}

TEST_F(StopSignalTest, ControlsOtherThanStopLeaveTheSignalAlone) {
    listen();
    spawn_wait();
    for (std::uint32_t control : {2u, 3u, 5u, 6u, 15u, 128u, 255u}) {
        EXPECT_EQ(handle_service_control(control, request), CONTROL_NOT_IMPLEMENTED) << control;
    }
    EXPECT_EQ(handle_service_control(CONTROL_INTERROGATE, request), CONTROL_HANDLED);
    io.poll();
    EXPECT_FALSE(completed);
    EXPECT_TRUE(reporter.reports().empty());

    EXPECT_EQ(handle_service_control(CONTROL_STOP, request), CONTROL_HANDLED);
    io.run();
    EXPECT_TRUE(completed);
}

TEST_F(StopSignalTest, StopWithNobodyListeningIsHandledAndTellsNobody) {
    int told = 0;
    request.listen([&] { ++told; });
    request.stop_listening();
    EXPECT_EQ(handle_service_control(CONTROL_STOP, request), CONTROL_HANDLED);
    EXPECT_EQ(told, 0);
    EXPECT_TRUE(reporter.reports().empty());
}

TEST_F(StopSignalTest, CancelledWaitSendsNoReportAndHoldsNoWork) {
    using namespace boost::asio::experimental::awaitable_operators;
    listen();
    bool timer_fired = false;
    boost::asio::co_spawn(
        io,
        [&]() -> boost::asio::awaitable<void> {
            boost::asio::steady_timer timer(io, std::chrono::milliseconds(1));
            auto fire = [&]() -> boost::asio::awaitable<void> {
                co_await timer.async_wait(boost::asio::use_awaitable);
                timer_fired = true;
            };
            auto race = host.stop_requested() || fire();
            co_await std::move(race);
        },
        boost::asio::detached);
    io.run(); // returns only if the cancelled wait released its work
    EXPECT_TRUE(timer_fired) << "nothing but the timer can end the race";
    EXPECT_TRUE(reporter.reports().empty());
    // A stop after the cancelled wait wakes nothing and breaks nothing.
    EXPECT_EQ(handle_service_control(CONTROL_STOP, request), CONTROL_HANDLED);
    io.restart();
    io.run();
    EXPECT_TRUE(reporter.reports().empty());
}

TEST_F(StopSignalTest, WakesEveryWaiter) {
    listen();
    spawn_wait();
    std::atomic<bool> second = false;
    boost::asio::co_spawn(
        io,
        [](StopSignal signal, std::atomic<bool>& done) -> boost::asio::awaitable<void> {
            co_await signal.wait();
            done = true;
        }(stop, second),
        boost::asio::detached);
    io.poll();
    request.request();
    io.run();
    EXPECT_TRUE(completed);
    EXPECT_TRUE(second);
}

} // namespace
} // namespace quorvex::service
