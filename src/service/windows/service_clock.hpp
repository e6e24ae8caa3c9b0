#pragma once
// The time source of the service-manager waits, so their limits can be tested without waiting.

#include <chrono>
#include <thread>

namespace quorvex::service {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time.
    [[nodiscard]] virtual std::chrono::milliseconds now() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
public:
    std::chrono::milliseconds now() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    }
    void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace quorvex::service
