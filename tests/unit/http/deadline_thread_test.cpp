#include "service/peer/http/deadline_thread.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
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
            auto far = deadlines.at(Clock::now() + 1h, expired.note(-1));
            EXPECT_TRUE(deadlines.thread_running());
        }
        while (deadlines.thread_running()) {
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(expired.wait_for(3), (std::vector<int>{1, 2, 3}));
}

} // namespace
} // namespace quorvex::http
