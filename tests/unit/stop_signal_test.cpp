#include "service/windows/service_control.hpp"
#include "service/windows/service_host.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvex::service {
namespace {

class RecordingReporter final : public ServiceStatusReporter {
public:
    Result<void> report(const ServiceStatusReport& status) override {
        std::lock_guard lock(mutex_);
        reports_.push_back(status);
        return {};
    }
    std::vector<ServiceStatusReport> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<ServiceStatusReport> reports_;
};

struct StopSignalTest : ::testing::Test {
    StopFlag flag = make_stop_flag();
    RecordingReporter reporter;
    boost::asio::io_context io;
    bool completed = false;

    // Starts awaiting a StopSignal on `io`; `completed` turns true when the wait returns.
    void spawn_wait() {
        boost::asio::co_spawn(
            io,
            [this, stop = StopSignal(flag.reader_state, reporter)]() mutable -> boost::asio::awaitable<void> {
                co_await stop.wait();
                completed = true;
            },
            boost::asio::detached);
    }
};

TEST_F(StopSignalTest, CompletesAtOnceWhenAlreadyStopped) {
    flag.writer.request_stop();
    spawn_wait();
    io.run();
    EXPECT_TRUE(completed);
    EXPECT_EQ(reporter.reports(), std::vector<ServiceStatusReport>{STOPPING_REPORT});
}

TEST_F(StopSignalTest, WaitsUntilAStopControlFromAnotherThread) {
    spawn_wait();
    io.poll();
    EXPECT_FALSE(completed);
    EXPECT_TRUE(reporter.reports().empty());

    std::thread control([&] { EXPECT_EQ(handle_service_control(CONTROL_STOP, flag.writer), CONTROL_HANDLED); });
    io.run(); // the pending wait keeps run() going until the control wakes it
    control.join();
    EXPECT_TRUE(completed);
    EXPECT_EQ(reporter.reports(), std::vector<ServiceStatusReport>{STOPPING_REPORT});
}

TEST_F(StopSignalTest, ControlsOtherThanStopLeaveTheFlagAlone) {
    spawn_wait();
    for (std::uint32_t control : {2u, 3u, 5u, 6u, 15u, 128u, 255u})
        EXPECT_EQ(handle_service_control(control, flag.writer), CONTROL_NOT_IMPLEMENTED) << control;
    EXPECT_EQ(handle_service_control(CONTROL_INTERROGATE, flag.writer), CONTROL_HANDLED);
    io.poll();
    EXPECT_FALSE(completed);
    EXPECT_TRUE(reporter.reports().empty());

    EXPECT_EQ(handle_service_control(CONTROL_STOP, flag.writer), CONTROL_HANDLED);
    io.run();
    EXPECT_TRUE(completed);
}

TEST_F(StopSignalTest, WriterKnowsWhenTheReaderIsGone) {
    {
        StopSignal stop(std::move(flag.reader_state), reporter);
        EXPECT_TRUE(flag.writer.has_reader());
        StopSignal moved(std::move(stop));
        EXPECT_TRUE(flag.writer.has_reader());
    }
    EXPECT_FALSE(flag.writer.has_reader());
    // A stop after the reader is gone changes nothing and still answers NO_ERROR.
    EXPECT_EQ(handle_service_control(CONTROL_STOP, flag.writer), CONTROL_HANDLED);
    EXPECT_TRUE(reporter.reports().empty());
}

TEST_F(StopSignalTest, DestroyedWriterEndsTheWait) {
    spawn_wait();
    io.poll();
    EXPECT_FALSE(completed);
    { StopFlagWriter gone(std::move(flag.writer)); }
    io.run();
    EXPECT_TRUE(completed);
}

TEST_F(StopSignalTest, CancelledWaitSendsNoReportAndHoldsNoWork) {
    using namespace boost::asio::experimental::awaitable_operators;
    bool timer_fired = false;
    boost::asio::co_spawn(
        io,
        [&, stop = StopSignal(flag.reader_state, reporter)]() mutable -> boost::asio::awaitable<void> {
            boost::asio::steady_timer timer(io, std::chrono::milliseconds(1));
            auto fire = [&]() -> boost::asio::awaitable<void> {
                co_await timer.async_wait(boost::asio::use_awaitable);
                timer_fired = true;
            };
            co_await (stop.wait() || fire());
        },
        boost::asio::detached);
    io.run(); // returns only if the cancelled wait released its work
    EXPECT_TRUE(timer_fired) << "nothing but the timer can end the race";
    EXPECT_TRUE(reporter.reports().empty());
    // A stop after the cancelled wait wakes nothing and breaks nothing.
    flag.writer.request_stop();
}

TEST_F(StopSignalTest, WakesEveryWaiter) {
    spawn_wait();
    std::atomic<bool> second = false;
    boost::asio::co_spawn(
        io,
        [&, stop = StopSignal(flag.reader_state, reporter)]() mutable -> boost::asio::awaitable<void> {
            co_await stop.wait();
            second = true;
        },
        boost::asio::detached);
    io.poll();
    flag.writer.request_stop();
    io.run();
    EXPECT_TRUE(completed);
    EXPECT_TRUE(second);
}

} // namespace
} // namespace quorvex::service
