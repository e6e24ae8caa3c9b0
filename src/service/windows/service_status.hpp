#pragma once
// The status reports the service sends to the Service Control Manager, as plain values, and the
// narrow interface through which they are sent (SetServiceStatus in the product, a recorder in
// tests).

#include "common/error.hpp"
#include "common/helper_contract.hpp"

#include <cstdint>

namespace quorvex::service {

inline constexpr std::uint32_t SERVICE_STATE_STOPPED = 1;
inline constexpr std::uint32_t SERVICE_STATE_START_PENDING = 2;
inline constexpr std::uint32_t SERVICE_STATE_STOP_PENDING = 3;
inline constexpr std::uint32_t SERVICE_ACCEPTS_STOP = 1;

// The SERVICE_STATUS fields that vary; the type is always own-process (0x10) and the
// service-specific exit code always 0.
struct ServiceStatusReport {
    std::uint32_t current_state = 0;
    std::uint32_t controls_accepted = 0;
    std::uint32_t win32_exit_code = 0;
    std::uint32_t checkpoint = 0;
    std::uint32_t wait_hint_ms = 0;
    friend bool operator==(const ServiceStatusReport&, const ServiceStatusReport&) = default;
};

inline constexpr ServiceStatusReport STARTING_REPORT{SERVICE_STATE_START_PENDING, 0, 0, 1, 10000};
inline constexpr ServiceStatusReport RUNNING_REPORT{SERVICE_STATE_RUNNING, SERVICE_ACCEPTS_STOP, 0, 0, 0};
inline constexpr ServiceStatusReport STOPPING_REPORT{SERVICE_STATE_STOP_PENDING, 0, 0, 1, 10000};
[[nodiscard]] constexpr ServiceStatusReport stopped_report(bool failed) {
    return {SERVICE_STATE_STOPPED, 0, failed ? 1u : 0u, 0, 0};
}

class ServiceStatusReporter {
public:
    virtual ~ServiceStatusReporter() = default;
    // Safe to call from any thread.
    virtual Result<void> report(const ServiceStatusReport& status) = 0;
};

} // namespace quorvex::service
