#pragma once
// A status reporter that records every report, safe from any thread, and refuses the reports of
// one state when asked.

#include "service/windows/service_status.hpp"

#include <cstdint>
#include <mutex>
#include <vector>

namespace quorvex::service::testing {

class RecordingReporter final : public ServiceStatusReporter {
public:
    Result<void> report(const ServiceStatusReport& status) override {
        std::lock_guard lock(mutex_);
        reports_.push_back(status);
        if (status.current_state == refused_state_) {
            return fail(Error::message("status refused"));
        }
        return {};
    }
    // Reports of `state` are recorded, then refused.
    void refuse(std::uint32_t state) {
        std::lock_guard lock(mutex_);
        refused_state_ = state;
    }
    [[nodiscard]] std::vector<ServiceStatusReport> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    [[nodiscard]] std::vector<std::uint32_t> states() const {
        std::lock_guard lock(mutex_);
        std::vector<std::uint32_t> states;
        for (const auto& report : reports_) {
            states.push_back(report.current_state);
        }
        return states;
    }

private:
    mutable std::mutex mutex_;
    std::vector<ServiceStatusReport> reports_;
    std::uint32_t refused_state_ = 0;
};

} // namespace quorvex::service::testing
