#include "service/windows/blocking_pool.hpp"

#include "common/helper_log.hpp"

#include <exception>
#include <system_error>
#include <thread>

namespace quorvex::service {

BlockingPool::BlockingPool(std::size_t max_threads, std::chrono::milliseconds idle_timeout)
    : max_threads_(max_threads < 2 ? 2 : max_threads), idle_timeout_(idle_timeout) {}

BlockingPool::~BlockingPool() {
    stop();
    // Queued work may hold work on other executors: release it before those go away.
    std::deque<Task> urgent, ordinary;
    {
        const std::lock_guard lock(mutex_);
        urgent.swap(urgent_);
        ordinary.swap(ordinary_);
    }
}

std::size_t BlockingPool::takeable() const {
    // Ordinary work leaves the last thread to urgent work.
    const std::size_t ordinary_room = max_threads_ - 1 - running_ordinary_;
    return urgent_.size() + std::min(ordinary_.size(), ordinary_room);
}

void BlockingPool::submit(Lane lane, Task task) {
    const std::lock_guard lock(mutex_);
    if (stopped_) return;
    (lane == Lane::urgent ? urgent_ : ordinary_).push_back(std::move(task));
    if (takeable() > idle_ && threads_ < max_threads_) start_thread();
    work_ready_.notify_one();
}

void BlockingPool::start_thread() {
    try {
        std::thread([this] { run_thread(); }).detach();
        ++threads_;
    } catch (const std::system_error& e) {
        // The threads already running take the work in turn.
        if (threads_ == 0) append_log(std::string("Helper could not start a blocking thread: ") + e.what());
    }
}

void BlockingPool::run_thread() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Task task;
        bool ordinary = false;
        while (!stopped_) {
            if (!urgent_.empty()) {
                task = std::move(urgent_.front());
                urgent_.pop_front();
                break;
            }
            if (!ordinary_.empty() && running_ordinary_ < max_threads_ - 1) {
                task = std::move(ordinary_.front());
                ordinary_.pop_front();
                ordinary = true;
                ++running_ordinary_;
                break;
            }
            ++idle_;
            const bool woken = work_ready_.wait_for(lock, idle_timeout_) == std::cv_status::no_timeout;
            --idle_;
            if (!woken && takeable() == 0) break; // idle for the whole timeout: end
        }
        if (!task) {
            --threads_;
            // Notified under the lock: once it is released, this thread touches the pool no more.
            all_ended_.notify_all();
            return;
        }
        lock.unlock();
        try {
            task();
        } catch (const std::exception& e) {
            append_log(std::string("Helper task failed: ") + e.what());
        } catch (...) {
            append_log("Helper task failed: unknown exception");
        }
        task = nullptr; // its state may take work on other executors: released outside the lock
        lock.lock();
        if (ordinary) --running_ordinary_;
    }
}

void BlockingPool::stop() {
    std::unique_lock lock(mutex_);
    stopped_ = true;
    work_ready_.notify_all();
    all_ended_.wait(lock, [this] { return threads_ == 0; });
}

std::size_t BlockingPool::thread_count() const {
    const std::lock_guard lock(mutex_);
    return threads_;
}

} // namespace quorvex::service
