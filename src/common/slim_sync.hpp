#pragma once
// A mutex and a condition variable for hand-offs between threads that someone waits for (a Core
// operation handed to the blocking pool). On Windows they are the system's slim reader/writer
// lock and condition variable: MinGW's std::condition_variable goes through winpthreads'
// semaphores, a kernel round trip per wake-up (under Wine a hand-off took 70-120 us against
// 6 us, and one in ten over 0.5 ms). Elsewhere they are the standard ones.

#include <algorithm>
#include <chrono>
#include <mutex>

#ifndef _WIN32
#include <condition_variable>
#endif

namespace quorvex {

#ifdef _WIN32

class SlimMutex {
public:
    SlimMutex() = default;
    SlimMutex(const SlimMutex&) = delete;
    SlimMutex& operator=(const SlimMutex&) = delete;

    void lock() noexcept;
    void unlock() noexcept;

private:
    friend class SlimCondition;
    void* srw_lock_ = nullptr; // an SRWLOCK, SRWLOCK_INIT
};

class SlimCondition {
public:
    SlimCondition() = default;
    SlimCondition(const SlimCondition&) = delete;
    SlimCondition& operator=(const SlimCondition&) = delete;

    void notify_one() noexcept;
    void notify_all() noexcept;

    // Returns ready() once it holds or the timeout has passed, as std::condition_variable does.
    template <class Predicate>
    bool wait_for(std::unique_lock<SlimMutex>& lock, std::chrono::milliseconds timeout, Predicate ready) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!ready()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= std::chrono::milliseconds::zero()) {
                return ready();
            }
            wait_at_most(lock, static_cast<unsigned long>(std::min<long long>(left.count(), LONGEST_WAIT_MS)));
        }
        return true;
    }

private:
    // The longest finite wait: one more is INFINITE.
    static constexpr unsigned long LONGEST_WAIT_MS = 0xFFFFFFFE;
    // Releases the lock, waits for a notification (or a spurious wake-up) or `milliseconds`, and
    // takes the lock again.
    void wait_at_most(std::unique_lock<SlimMutex>& lock, unsigned long milliseconds);

    void* condition_ = nullptr; // a CONDITION_VARIABLE, CONDITION_VARIABLE_INIT
};

#else

using SlimMutex = std::mutex;
using SlimCondition = std::condition_variable;

#endif

} // namespace quorvex
