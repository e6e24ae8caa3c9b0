#include "client/helper_service.hpp"

#include <string>

namespace quorvex::client {

std::string_view service_state_name(std::uint32_t state) {
    // The service manager's SERVICE_STOPPED (1) to SERVICE_PAUSED (7).
    switch (state) {
    case 1:
        return "stopped";
    case 2:
        return "start pending";
    case 3:
        return "stop pending";
    case SERVICE_STATE_RUNNING:
        return "running";
    case 5:
        return "continue pending";
    case 6:
        return "pause pending";
    case 7:
        return "paused";
    default:
        return "unknown";
    }
}

ClientResult<void> require_running(const ServiceState& state) {
    if (state.state == SERVICE_STATE_RUNNING) {
        return {};
    }
    return fail(
        ClientErrorKind::ServiceNotRunning,
        Error::message("the helper service is " + std::string(service_state_name(state.state)) + ", not running"));
}

ClientResult<ServiceProcess> live_service_process(HelperSystem& system, std::uint32_t pid) {
    const auto listed = system.listed_process(pid);
    if (!listed) {
        return std::unexpected(listed.error());
    }
    const auto gone = [pid](std::string cause) {
        return fail(ClientErrorKind::ServiceProcessGone,
                    Error::message(std::move(cause))
                        .context("the helper service's process " + std::to_string(pid) +
                                 " is not running, though the service manager reports the service running"));
    };
    if (!*listed) {
        return gone("no process has that ID");
    }
    // A process that ended keeps its entry while anyone (the service manager) holds a handle to it.
    if ((*listed)->threads == 0) {
        return gone("it has ended");
    }
    return ServiceProcess{pid, (*listed)->created};
}

ClientResult<void> check_same_process(HelperSystem& system, const ServiceProcess& service) {
    const auto now = live_service_process(system, service.pid);
    if (!now) {
        return std::unexpected(now.error());
    }
    if (now->created == service.created) {
        return {};
    }
    return fail(ClientErrorKind::ServiceProcessGone,
                Error::message("process ID " + std::to_string(service.pid) + " now names a process started later")
                    .context("the helper service's process " + std::to_string(service.pid) +
                             " ended while its listener was checked"));
}

ClientResult<HelperEndpoint> locate_helper_service(HelperSystem& system) {
    const auto state = system.service_state();
    if (!state) {
        return std::unexpected(state.error());
    }
    if (auto running = require_running(*state); !running) {
        return std::unexpected(std::move(running.error()));
    }
    const auto process = live_service_process(system, state->pid);
    if (!process) {
        return std::unexpected(process.error());
    }
    const auto published = system.published_port();
    if (!published) {
        return std::unexpected(published.error());
    }
    if (auto fresh = check_port_is_fresh(*published, *process); !fresh) {
        return std::unexpected(std::move(fresh.error()));
    }
    return HelperEndpoint{*process, *published};
}

} // namespace quorvex::client
