#pragma once
// Deadlines for rare waits (a lingering close, the accept loop's back-off), kept by one thread
// that exists only while a deadline is pending. Asio's timers would do, but on Windows an
// io_context's first timer starts a thread that lasts as long as the io_context: an idle service
// would hold it for good.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace quorvex::http {

class DeadlineThread {
public:
    using Clock = std::chrono::steady_clock;

    // A pending deadline; destroying it withdraws the deadline. Once the destructor has returned,
    // its `expire` is not running and never runs.
    class Ticket {
    public:
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        Ticket(Ticket&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)), key_(std::move(other.key_)) {}
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket() {
            if (owner_ != nullptr) {
                owner_->withdraw(key_);
            }
        }

    private:
        friend class DeadlineThread;
        using Key = std::pair<Clock::time_point, std::uint64_t>;
        Ticket(DeadlineThread& owner, Key key) : owner_(&owner), key_(std::move(key)) {}
        DeadlineThread* owner_;
        Key key_;
    };

    DeadlineThread() = default;
    DeadlineThread(const DeadlineThread&) = delete;
    DeadlineThread& operator=(const DeadlineThread&) = delete;
    // Joins the thread; tickets must not outlive the object.
    ~DeadlineThread();

    // Calls `expire` on the deadline thread at `deadline`, unless the ticket is destroyed first.
    // `expire` runs under the object's lock: it must be short and must not touch a ticket (posting
    // to an executor is what it is for). Throws std::system_error when the thread cannot start.
    [[nodiscard]] Ticket at(Clock::time_point deadline, std::function<void()> expire);

    // Whether the thread exists now (it ends when no deadline is pending).
    [[nodiscard]] bool thread_running() const;

private:
    void withdraw(const Ticket::Key& key);
    void run();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<Ticket::Key, std::function<void()>> pending_;
    std::uint64_t next_serial_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

// Waits `delay` on `deadlines` instead of an Asio timer. A cancellation of the awaiting coroutine
// ends the wait early; either way it resumes on the coroutine's executor.
boost::asio::awaitable<void> pause(DeadlineThread& deadlines, DeadlineThread::Clock::duration delay);

// The process's deadline thread, created on first use and never destroyed: connection tasks may
// still hold tickets while the process ends.
[[nodiscard]] DeadlineThread& process_deadline_thread();

} // namespace quorvex::http
