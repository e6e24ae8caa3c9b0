#pragma once
// Time for the supervisor's termination and exit waits, injectable so that tests run the
// 1.5-second polls instantly and deterministically.

#include <chrono>

namespace quorvex::hub {

class SupervisorClock {
public:
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~SupervisorClock() = default;
    [[nodiscard]] virtual time_point now() = 0;
    virtual void sleep_for(std::chrono::milliseconds duration) = 0;
};

// The monotonic clock and a real sleep.
class SteadySupervisorClock final : public SupervisorClock {
public:
    [[nodiscard]] time_point now() override;
    void sleep_for(std::chrono::milliseconds duration) override;
};

} // namespace quorvex::hub
