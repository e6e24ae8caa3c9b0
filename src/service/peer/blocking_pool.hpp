#pragma once
// The threads that run blocking work (Core operations: file reads, process creation and waits).
// Threads start only when work arrives and no thread is free, up to a limit, and end after they
// have been idle for a while: an idle service holds none of them.
//
// Two lanes: urgent work (ping) is taken before ordinary work (start, stop), and ordinary work
// never occupies the last thread, so a ping never waits behind start or stop operations, queued
// or running.

#include "common/slim_sync.hpp"

#include <boost/asio/execution.hpp>
#include <boost/asio/execution_context.hpp>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

namespace quorvex::peer {

class BlockingPool : public boost::asio::execution_context {
public:
    enum class Lane { ordinary, urgent };

    // An Asio executor that runs its work on one lane of the pool, never inside execute().
    class Executor {
    public:
        Executor(BlockingPool& pool, Lane lane) noexcept : pool_(&pool), lane_(lane) {}

        template <class Function>
        void execute(Function&& function) const {
            pool_->submit(lane_, Task(std::forward<Function>(function)));
        }
        [[nodiscard]] BlockingPool& query(boost::asio::execution::context_t) const noexcept { return *pool_; }
        static constexpr boost::asio::execution::blocking_t::never_t query(
            boost::asio::execution::blocking_t) noexcept {
            return {};
        }
        [[nodiscard]] Executor require(boost::asio::execution::blocking_t::never_t) const noexcept { return *this; }
        friend bool operator==(const Executor&, const Executor&) noexcept = default;

    private:
        BlockingPool* pool_;
        Lane lane_;
    };

    static constexpr std::chrono::seconds DEFAULT_IDLE_TIMEOUT{10};

    explicit BlockingPool(std::size_t max_threads, std::chrono::milliseconds idle_timeout = DEFAULT_IDLE_TIMEOUT);
    BlockingPool(const BlockingPool&) = delete;
    BlockingPool& operator=(const BlockingPool&) = delete;
    // Stops, waits for running work, and drops the work still queued.
    ~BlockingPool();

    [[nodiscard]] Executor get_executor() noexcept { return {*this, Lane::ordinary}; }
    [[nodiscard]] Executor urgent_executor() noexcept { return {*this, Lane::urgent}; }

    // Takes no more work, lets running work finish and waits for every thread to end. Queued
    // work is dropped when the pool is destroyed. Idempotent.
    void stop();

    [[nodiscard]] std::size_t thread_count() const;
    [[nodiscard]] std::size_t max_threads() const { return max_threads_; }

private:
    using Task = std::move_only_function<void()>;

    void submit(Lane lane, Task task);
    // Makes sure a thread will look at the queues; the caller holds the lock.
    void summon_thread(Lane lane);
    void start_thread();
    void run_thread();
    // Takes the next task a thread may run now, or an empty one; the caller holds the lock.
    [[nodiscard]] Task take_task(bool& ordinary);

    const std::size_t max_threads_;
    const std::chrono::milliseconds idle_timeout_;
    mutable SlimMutex mutex_;
    SlimCondition wake_;
    std::deque<Task> urgent_;
    std::deque<Task> ordinary_;
    std::vector<std::thread> threads_;
    // Threads that have left their loop, joined when the next thread starts or at stop().
    std::vector<std::thread::id> ended_;
    std::size_t live_ = 0;
    // Threads waiting for work that no submit has claimed yet.
    std::size_t idle_ = 0;
    // Waiting threads a submit has claimed and woken: each one looks at the queues once more.
    std::size_t wakeups_ = 0;
    std::size_t running_ordinary_ = 0;
    bool stopped_ = false;
};

} // namespace quorvex::peer
