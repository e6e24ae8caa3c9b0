#include "service/peer/blocking_pool.hpp"

#include "common/helper_log.hpp"

#include <algorithm>
#include <exception>
#include <system_error>

namespace quorvex::peer {

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

void BlockingPool::submit(Lane lane, Task task) {
    std::unique_lock lock(mutex_);
    if (stopped_) {
        lock.unlock();
        return; // dropped outside the lock: its destruction may submit again
    }
    (lane == Lane::urgent ? urgent_ : ordinary_).push_back(std::move(task));
    summon_thread(lane);
}

void BlockingPool::summon_thread(Lane lane) {
    // Ordinary work beyond its share waits for a running ordinary task, whose thread takes it next.
    if (lane == Lane::ordinary && running_ordinary_ >= max_threads_ - 1) {
        return;
    }
    if (idle_ > 0) {
        --idle_;
        ++wakeups_;
        wake_.notify_one();
    } else if (live_ < max_threads_) {
        start_thread();
    }
    // Otherwise every thread is busy and takes queued work when its task ends.
}

void BlockingPool::start_thread() {
    for (const auto id : ended_) {
        const auto ended = std::ranges::find(threads_, id, &std::thread::get_id);
        ended->join(); // it has left its loop and only returns
        threads_.erase(ended);
    }
    ended_.clear();
    try {
        threads_.emplace_back([this] { run_thread(); });
        ++live_;
    } catch (const std::system_error& e) {
        // The threads already running take the work in turn.
        if (live_ == 0) {
            append_log(std::string("Helper could not start a blocking thread: ") + e.what());
        }
    }
}

BlockingPool::Task BlockingPool::take_task(bool& ordinary) {
    Task task;
    if (!urgent_.empty()) {
        task = std::move(urgent_.front());
        urgent_.pop_front();
        ordinary = false;
    } else if (!ordinary_.empty() && running_ordinary_ < max_threads_ - 1) {
        task = std::move(ordinary_.front());
        ordinary_.pop_front();
        ordinary = true;
        ++running_ordinary_;
    }
    return task;
}

void BlockingPool::run_thread() {
    std::unique_lock lock(mutex_);
    while (!stopped_) {
        bool ordinary = false;
        if (Task task = take_task(ordinary)) {
            lock.unlock();
            try {
                task();
            } catch (const std::exception& e) {
                append_log(std::string("Helper task failed: ") + e.what());
            } catch (...) {
                append_log("Helper task failed: unknown exception");
            }
            task = nullptr; // its state may hold work on other executors: released outside the lock
            lock.lock();
            if (ordinary) {
                --running_ordinary_;
            }
            continue;
        }
        ++idle_;
        wake_.wait_for(lock, idle_timeout_, [this] { return wakeups_ > 0 || stopped_; });
        if (wakeups_ > 0) {
            --wakeups_; // a submit claimed this thread and already counted it out of idle_
            continue;
        }
        --idle_;
        if (!stopped_) {
            break; // idle for the whole timeout, and no submit claimed it: end
        }
    }
    --live_;
    ended_.push_back(std::this_thread::get_id());
}

void BlockingPool::stop() {
    std::vector<std::thread> threads;
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        wake_.notify_all();
        threads.swap(threads_);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::lock_guard lock(mutex_);
    ended_.clear();
}

std::size_t BlockingPool::thread_count() const {
    const std::lock_guard lock(mutex_);
    return live_;
}

} // namespace quorvex::peer
