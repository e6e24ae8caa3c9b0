#include "service/windows/service_control.hpp"

namespace quorvex::service {

std::uint32_t handle_service_control(std::uint32_t control, StopFlagWriter& writer) {
    switch (control) {
    case CONTROL_STOP:
        if (writer.has_reader()) writer.request_stop();
        return CONTROL_HANDLED;
    case CONTROL_INTERROGATE:
        return CONTROL_HANDLED;
    default:
        return CONTROL_NOT_IMPLEMENTED;
    }
}

} // namespace quorvex::service
