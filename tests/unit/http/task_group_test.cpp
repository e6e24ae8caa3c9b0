#include "service/peer/http/task_group.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <gtest/gtest.h>

#include <exception>
#include <memory>

namespace quorvex::http {
namespace {

namespace asio = boost::asio;

struct Seen {
    int cancelled = 0;
    int ended = 0;
    int started_late = 0;
};

// Waits until cancelled; a held task then waits for `gate` as well, as a connection finishes
// the request in progress.
asio::awaitable<void> wait_for_cancellation(Seen& seen, asio::steady_timer* gate) {
    co_await asio::this_coro::throw_if_cancelled(false);
    asio::steady_timer forever(co_await asio::this_coro::executor, asio::steady_timer::time_point::max());
    co_await forever.async_wait(asio::as_tuple(asio::use_awaitable));
    if ((co_await asio::this_coro::cancellation_state).cancelled() == asio::cancellation_type::terminal) {
        ++seen.cancelled;
    }
    if (gate != nullptr) {
        co_await gate->async_wait(asio::as_tuple(asio::use_awaitable));
    }
}

asio::awaitable<void> count_start(Seen& seen, std::shared_ptr<int> /*owned*/) {
    ++seen.started_late;
    co_return;
}

asio::awaitable<void> wait_for_all(TaskGroup& group, bool& done) {
    group.cancel_all();
    co_await group.all_ended();
    done = true;
}

TEST(TaskGroup, CancelReachesEveryTaskRefusesLateOnesAndTheWaitEndsWithTheLastTask) {
    asio::io_context io;
    const auto group = std::make_shared<TaskGroup>(io.get_executor());
    Seen seen;
    asio::steady_timer gate(io, asio::steady_timer::time_point::max());
    const auto ended = [&seen](const std::exception_ptr& failure) {
        EXPECT_FALSE(failure);
        ++seen.ended;
    };
    for (int i = 0; i < 3; ++i) {
        group->spawn(asio::make_strand(io), wait_for_cancellation(seen, i == 0 ? &gate : nullptr), ended);
    }
    io.poll();
    ASSERT_EQ(group->size(), 3u);
    ASSERT_EQ(seen.cancelled, 0);

    bool drained = false;
    asio::co_spawn(io, wait_for_all(*group, drained), asio::detached);
    io.poll();
    EXPECT_EQ(seen.cancelled, 3);
    EXPECT_EQ(seen.ended, 2);
    EXPECT_EQ(group->size(), 1u);
    EXPECT_FALSE(drained) << "the wait ended while a task was still running";

    // Once cancelled, a task is destroyed unstarted: what it owns is released at once.
    const auto owned = std::make_shared<int>();
    group->spawn(asio::make_strand(io), count_start(seen, owned), ended);
    EXPECT_EQ(owned.use_count(), 1);
    EXPECT_EQ(group->size(), 1u);

    gate.cancel();
    io.poll();
    EXPECT_EQ(seen.ended, 3);
    EXPECT_EQ(seen.started_late, 0);
    EXPECT_EQ(group->size(), 0u);
    EXPECT_TRUE(drained);

    // An empty group's wait ends at once.
    bool drained_again = false;
    io.restart(); // it ran out of work
    asio::co_spawn(io, wait_for_all(*group, drained_again), asio::detached);
    io.poll();
    EXPECT_TRUE(drained_again);
}

TEST(TaskGroup, ATaskLeavesOnlyAfterItsEndWasReported) {
    asio::io_context io;
    const auto group = std::make_shared<TaskGroup>(io.get_executor());
    Seen seen;
    std::size_t size_when_ended = 0;
    group->spawn(asio::make_strand(io), wait_for_cancellation(seen, nullptr),
                 [&](const std::exception_ptr&) { size_when_ended = group->size(); });
    io.poll();
    group->cancel_all();
    io.poll();
    EXPECT_EQ(seen.cancelled, 1);
    EXPECT_EQ(size_when_ended, 1u);
    EXPECT_EQ(group->size(), 0u);
}

} // namespace
} // namespace quorvex::http
