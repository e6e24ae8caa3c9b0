#include "common/slim_sync.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace quorvex {
namespace {

using namespace std::chrono_literals;

// Long enough that only a lost wake-up reaches it.
constexpr auto LOST_WAKE_UP = 10s;

TEST(SlimCondition, WaitForGivesTheReadinessOnceItsTimeoutHasPassed) {
    SlimMutex mutex;
    SlimCondition condition;
    std::unique_lock lock(mutex);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(condition.wait_for(lock, 30ms, [] { return false; }));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 30ms);
    EXPECT_TRUE(lock.owns_lock());
    EXPECT_TRUE(condition.wait_for(lock, 0ms, [] { return true; }));
}

TEST(SlimCondition, EveryNotificationReachesItsWaiters) {
    SlimMutex mutex;
    SlimCondition condition;
    int turn = 0; // even: the main thread's, odd: the other's
    constexpr int ROUNDS = 2000;
    std::thread other([&] {
        std::unique_lock lock(mutex);
        for (int i = 0; i < ROUNDS; ++i) {
            if (!condition.wait_for(lock, LOST_WAKE_UP, [&] { return turn % 2 == 1; })) {
                return;
            }
            ++turn;
            condition.notify_one();
        }
    });
    {
        std::unique_lock lock(mutex);
        for (int i = 0; i < ROUNDS; ++i) {
            ++turn;
            condition.notify_one();
            if (!condition.wait_for(lock, LOST_WAKE_UP, [&] { return turn % 2 == 0; })) {
                ADD_FAILURE() << "no answer in round " << i;
                break;
            }
        }
    }
    other.join();

    // notify_all wakes every waiter at once.
    bool open = false;
    int woken = 0;
    constexpr int WAITERS = 3;
    std::vector<std::thread> waiters;
    waiters.reserve(WAITERS);
    for (int i = 0; i < WAITERS; ++i) {
        waiters.emplace_back([&] {
            std::unique_lock lock(mutex);
            if (condition.wait_for(lock, LOST_WAKE_UP, [&] { return open; })) {
                ++woken;
            }
        });
    }
    {
        const std::lock_guard lock(mutex);
        open = true;
    }
    condition.notify_all();
    for (auto& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(woken, WAITERS);
}

} // namespace
} // namespace quorvex
