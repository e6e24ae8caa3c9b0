#include "service/peer/http/deadline_thread.hpp"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_future.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quorvex::http {
namespace {

using namespace std::chrono_literals;
using Clock = DeadlineThread::Clock;

// What expired, in order; a test waits for a count, never for a time.
class Expired {
public:
    std::function<void()> note(int id) {
        return [this, id] {
            std::lock_guard lock(mutex_);
            ids_.push_back(id);
            changed_.notify_all();
        };
    }
    std::vector<int> wait_for(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ids_.size() >= count; });
        return ids_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> ids_;
};

TEST(DeadlineThread, ExpiresInDeadlineOrderAndSkipsWithdrawnTickets) {
    Expired expired;
    DeadlineThread deadlines;
    const auto now = Clock::now();
    {
        // Added latest first; a withdrawn one in the middle, already due.
        auto third = deadlines.at(now + 30ms, expired.note(3));
        std::optional<DeadlineThread::Ticket> withdrawn(deadlines.at(now + 20ms, expired.note(99)));
        withdrawn.reset();
        auto second = deadlines.at(now + 10ms, expired.note(2));
        auto first = deadlines.at(now - 1s, expired.note(1));
        EXPECT_EQ(expired.wait_for(3), (std::vector<int>{1, 2, 3}));
    }
    EXPECT_EQ(expired.wait_for(3), (std::vector<int>{1, 2, 3}));
}

TEST(DeadlineThread, TheThreadExistsOnlyWhileADeadlineIsPendingAndComesBackForTheNext) {
    Expired expired;
    DeadlineThread deadlines;
    EXPECT_FALSE(deadlines.thread_running());
    for (int round = 1; round <= 3; ++round) {
        {
            auto due = deadlines.at(Clock::now(), expired.note(round));
            expired.wait_for(round);
        }
        // The thread leaves once nothing is pending; a ticket of the far future keeps it.
        {
            auto distant = deadlines.at(Clock::now() + 1h, expired.note(-1));
            EXPECT_TRUE(deadlines.thread_running());
        }
        while (deadlines.thread_running()) {
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(expired.wait_for(3), (std::vector<int>{1, 2, 3}));
}

// A pause on an io_context of its own thread; the future is ready once the pause has returned.
class PauseTest : public ::testing::Test {
protected:
    ~PauseTest() override {
        // A pause that failed to end must not hold the test up for its hour.
        io_.stop();
        runner_.join();
    }

    std::future<void> start(DeadlineThread::Clock::duration delay) {
        return boost::asio::co_spawn(io_, pause(deadlines_, delay),
                                     boost::asio::bind_cancellation_slot(cancel_.slot(), boost::asio::use_future));
    }

    DeadlineThread deadlines_;
    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_ = boost::asio::make_work_guard(io_);
    std::thread runner_{[this] { io_.run(); }};
    boost::asio::cancellation_signal cancel_;
};

TEST_F(PauseTest, EndsAtItsDeadline) {
    auto paused = start(10ms);
    ASSERT_EQ(paused.wait_for(10s), std::future_status::ready);
    paused.get();
}

TEST_F(PauseTest, ACancellationEndsItEarlyAndLeavesNoDeadlineBehind) {
    auto paused = start(1h);
    // The slot belongs to the io_context's thread: the cancellation is emitted there.
    boost::asio::post(io_, [this] { cancel_.emit(boost::asio::cancellation_type::terminal); });
    ASSERT_EQ(paused.wait_for(10s), std::future_status::ready);
    paused.get();
    // The hour-long deadline was withdrawn, so the thread ends.
    while (deadlines_.thread_running()) {
        std::this_thread::yield();
    }
}

} // namespace
} // namespace quorvex::http
