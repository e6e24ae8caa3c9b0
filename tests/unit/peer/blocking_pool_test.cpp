#include "service/peer/blocking_pool.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_future.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace quorvex::peer {
namespace {

using namespace std::chrono_literals;

// Generous bounds for events that happen at once when the pool works: a failure shows as a
// timeout instead of a hung test.
constexpr auto EVENTUALLY = 10s;

// Waits until `done` holds, at most EVENTUALLY.
template <class Condition>
bool eventually(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + EVENTUALLY;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Tasks that block until released, or at most EVENTUALLY, so that a pool that fails to run
// them all at once fails the test instead of hanging it.
class HeldTasks {
public:
    auto task() {
        return [this] {
            const int now = ++running_;
            for (int seen = most_; now > seen && !most_.compare_exchange_weak(seen, now);) {}
            if (released_.wait_for(EVENTUALLY) != std::future_status::ready) {
                timed_out_ = true;
            }
            --running_;
            ++finished_;
        };
    }
    void release() { release_.set_value(); }
    [[nodiscard]] int running() const { return running_; }
    [[nodiscard]] int most() const { return most_; }
    [[nodiscard]] int finished() const { return finished_; }
    [[nodiscard]] bool timed_out() const { return timed_out_; }
    [[nodiscard]] const std::shared_future<void>& released() const { return released_; }

private:
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
    std::atomic<int> running_{0}, most_{0}, finished_{0};
    std::atomic<bool> timed_out_{false};
};

TEST(BlockingPool, StartsThreadsForWorkOnlyAndEndsThemWhenIdle) {
    BlockingPool pool(8, 20ms);
    EXPECT_EQ(pool.thread_count(), 0u) << "an idle pool holds no thread";

    // Three tasks that block together need three threads at once, and no more.
    HeldTasks held;
    for (int i = 0; i < 3; ++i) {
        boost::asio::post(pool.get_executor(), held.task());
    }
    const bool started_together = eventually([&] { return held.running() == 3; });
    const std::size_t threads = pool.thread_count();
    held.release();
    ASSERT_TRUE(started_together) << "the tasks did not get a thread each";
    EXPECT_EQ(threads, 3u) << "one thread per waiting task";
    EXPECT_TRUE(eventually([&] { return pool.thread_count() == 0; })) << "idle threads end";
    EXPECT_FALSE(held.timed_out());

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

    // More ordinary work than the pool has threads, blocked until released: the urgent task
    // must get a thread anyway.
    HeldTasks held;
    constexpr int ORDINARY = 10;
    for (int i = 0; i < ORDINARY; ++i) {
        boost::asio::post(pool.get_executor(), held.task());
    }
    ASSERT_TRUE(eventually([&] { return held.running() == static_cast<int>(LIMIT) - 1; }))
        << "ordinary work did not get the threads it may use";
    std::promise<void> urgent_ran;
    boost::asio::post(pool.urgent_executor(), [&urgent_ran] { urgent_ran.set_value(); });
    const bool urgent_done = urgent_ran.get_future().wait_for(EVENTUALLY) == std::future_status::ready;
    held.release();
    ASSERT_TRUE(urgent_done) << "urgent work waited behind ordinary work";

    EXPECT_TRUE(eventually([&] { return held.finished() == ORDINARY; })) << "queued ordinary work runs in turn";
    EXPECT_FALSE(held.timed_out());
    EXPECT_EQ(held.most(), static_cast<int>(LIMIT) - 1) << "ordinary work leaves one thread free";
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
} // namespace quorvex::peer
