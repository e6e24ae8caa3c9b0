#pragma once
// The time source of every wait with a limit (the service-manager polls, the supervisor's exit
// and termination waits), injectable so that tests run those limits instantly and
// deterministically.

#include <chrono>
#include <thread>

namespace quorvex {

class Clock {
public:
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    // Monotonic time.
    [[nodiscard]] virtual time_point now() = 0;
    virtual void sleep_for(std::chrono::milliseconds duration) = 0;
};

// The monotonic clock and a real sleep.
class SteadyClock final : public Clock {
public:
    [[nodiscard]] time_point now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace quorvex
