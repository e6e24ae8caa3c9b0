#include "service/peer/http/deadline_thread.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/concurrent_channel.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <memory>

namespace quorvex::http {

DeadlineThread::~DeadlineThread() {
    std::thread ending;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        ending = std::move(thread_);
    }
    changed_.notify_all();
    if (ending.joinable()) {
        ending.join();
    }
}

DeadlineThread::Ticket DeadlineThread::at(Clock::time_point deadline, std::function<void()> expire) {
    std::thread ended;
    Ticket::Key key;
    {
        std::lock_guard lock(mutex_);
        key = {deadline, next_serial_++};
        pending_.emplace(key, std::move(expire));
        if (!running_) {
            // The thread that ran before has left its loop; it is joined outside the lock.
            ended = std::move(thread_);
            try {
                thread_ = std::thread([this] { run(); });
            } catch (...) {
                pending_.erase(key);
                throw;
            }
            running_ = true;
        }
    }
    changed_.notify_one();
    if (ended.joinable()) {
        ended.join();
    }
    return {*this, key};
}

bool DeadlineThread::thread_running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void DeadlineThread::withdraw(const Ticket::Key& key) {
    {
        std::lock_guard lock(mutex_);
        pending_.erase(key);
    }
    // The deadline the thread waits for may be the one withdrawn: it looks again, and ends when
    // nothing is left.
    changed_.notify_one();
}

void DeadlineThread::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_ && !pending_.empty()) {
        const auto first = pending_.begin();
        // A copy: the entry may be withdrawn while the thread waits.
        const auto deadline = first->first.first;
        if (deadline <= Clock::now()) {
            const auto expire = std::move(first->second);
            pending_.erase(first);
            expire();
            continue;
        }
        changed_.wait_until(lock, deadline);
    }
    running_ = false;
}

boost::asio::awaitable<void> pause(DeadlineThread& deadlines, DeadlineThread::Clock::duration delay) {
    // The deadline thread sends from outside any executor: a channel that takes sends from any thread.
    using Wake = boost::asio::experimental::concurrent_channel<void(boost::system::error_code)>;
    const auto wake = std::make_shared<Wake>(co_await boost::asio::this_coro::executor, 1);
    // Destroyed when the wait is over: a pause a cancellation ended leaves no deadline behind.
    const auto ticket = deadlines.at(DeadlineThread::Clock::now() + delay,
                                     [wake] { (void)wake->try_send(boost::system::error_code()); });
    co_await wake->async_receive(boost::asio::as_tuple(boost::asio::use_awaitable));
}

DeadlineThread& process_deadline_thread() {
    static auto* deadlines = new DeadlineThread;
    return *deadlines;
}

} // namespace quorvex::http
