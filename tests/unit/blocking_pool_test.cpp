#include "service/windows/blocking_pool.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_future.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <thread>
#include <vector>

namespace quorvex::service {
namespace {

using namespace std::chrono_literals;

// Generous bounds for events that happen at once when the pool works: a failure shows as a
// timeout instead of a hung test.
constexpr auto EVENTUALLY = 10s;

bool becomes(const BlockingPool& pool, std::size_t threads) {
    const auto deadline = std::chrono::steady_clock::now() + EVENTUALLY;
    while (pool.thread_count() != threads) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(BlockingPool, StartsThreadsForWorkOnlyAndEndsThemWhenIdle) {
    BlockingPool pool(8, 20ms);
    EXPECT_EQ(pool.thread_count(), 0u) << "an idle pool holds no thread";

    // Three tasks that only finish together need three threads at once.
    std::latch together(3);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    for (int i = 0; i < 3; ++i)
        boost::asio::post(pool.get_executor(), [&together, released] {
            together.arrive_and_wait();
            released.wait();
        });
    const auto deadline = std::chrono::steady_clock::now() + EVENTUALLY;
    while (!together.try_wait() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    const bool started_together = together.try_wait();
    const std::size_t threads = pool.thread_count();
    release.set_value();
    ASSERT_TRUE(started_together) << "the tasks did not get a thread each";
    EXPECT_EQ(threads, 3u) << "one thread per task waiting, none more";
    EXPECT_TRUE(becomes(pool, 0)) << "idle threads end";

    // Work after that starts a thread again.
    std::promise<std::thread::id> ran;
    boost::asio::post(pool.get_executor(), [&ran] { ran.set_value(std::this_thread::get_id()); });
    auto on = ran.get_future();
    ASSERT_EQ(on.wait_for(EVENTUALLY), std::future_status::ready);
    EXPECT_NE(on.get(), std::this_thread::get_id());
}

TEST(BlockingPool, StaysWithinItsLimitAndKeepsTheLastThreadForUrgentWork) {
    constexpr std::size_t LIMIT = 4;
    BlockingPool pool(LIMIT, 10s);
    std::promise<void> urgent_ran;
    std::shared_future<void> urgent_done = urgent_ran.get_future().share();
    std::atomic<int> running{0}, most{0}, finished{0};
    std::atomic<bool> urgent_waited{false};

    // Ordinary work that blocks until the urgent task has run, more of it than the pool has
    // threads: the urgent task must get a thread anyway.
    constexpr int ORDINARY = 10;
    std::latch all_ordinary_waiting(LIMIT - 1);
    for (int i = 0; i < ORDINARY; ++i)
        boost::asio::post(pool.get_executor(), [&, i] {
            const int now = ++running;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            if (i < static_cast<int>(LIMIT) - 1) all_ordinary_waiting.count_down();
            if (urgent_done.wait_for(EVENTUALLY) != std::future_status::ready) urgent_waited = true;
            --running;
            ++finished;
        });
    all_ordinary_waiting.wait(); // every thread ordinary work may use is taken
    boost::asio::post(pool.urgent_executor(), [&urgent_ran] { urgent_ran.set_value(); });

    ASSERT_EQ(urgent_done.wait_for(EVENTUALLY), std::future_status::ready)
        << "urgent work waited behind ordinary work";
    EXPECT_FALSE(urgent_waited);
    const auto deadline = std::chrono::steady_clock::now() + EVENTUALLY;
    while (finished < ORDINARY && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(finished.load(), ORDINARY) << "queued ordinary work runs in turn";
    EXPECT_EQ(most.load(), static_cast<int>(LIMIT) - 1) << "ordinary work leaves one thread free";
    EXPECT_LE(pool.thread_count(), LIMIT);
    pool.stop();
    EXPECT_EQ(pool.thread_count(), 0u);
}

TEST(BlockingPool, RunsCoroutinesAndDropsWorkAfterStop) {
    BlockingPool pool(2);
    auto on_pool = [&]() -> boost::asio::awaitable<std::thread::id> { co_return std::this_thread::get_id(); };
    auto ran_on = boost::asio::co_spawn(pool.urgent_executor(), on_pool(), boost::asio::use_future);
    ASSERT_EQ(ran_on.wait_for(EVENTUALLY), std::future_status::ready);
    EXPECT_NE(ran_on.get(), std::this_thread::get_id());

    pool.stop();
    pool.stop();
    bool ran = false;
    boost::asio::post(pool.get_executor(), [&ran] { ran = true; });
    EXPECT_EQ(pool.thread_count(), 0u);
    EXPECT_FALSE(ran);
}

} // namespace
} // namespace quorvex::service
