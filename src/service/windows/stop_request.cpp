#include "service/windows/stop_request.hpp"

#include <utility>

namespace quorvex::service {

void StopRequest::request() {
    // The listener runs under the lock, so stop_listening() never returns while it runs.
    const std::lock_guard lock(mutex_);
    requested_ = true;
    if (listener_) {
        listener_();
    }
}

void StopRequest::listen(std::function<void()> listener) {
    const std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
    if (requested_) {
        listener_();
    }
}

void StopRequest::stop_listening() {
    std::function<void()> gone;
    const std::lock_guard lock(mutex_);
    gone.swap(listener_);
}

std::uint32_t handle_service_control(std::uint32_t control, StopRequest& stop) {
    switch (control) {
    case CONTROL_STOP:
        stop.request();
        return CONTROL_HANDLED;
    case CONTROL_INTERROGATE:
        return CONTROL_HANDLED;
    default:
        return CONTROL_NOT_IMPLEMENTED;
    }
}

} // namespace quorvex::service
