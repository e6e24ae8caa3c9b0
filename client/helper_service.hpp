#pragma once
// What the service manager and the registry say about the helper service, each read its own
// step with its own named error, and the first half of the verified connect built from them
// (Windows only).

#include "client/client_error.hpp"
#include "client/listener_check.hpp"
#include "common/helper_contract.hpp"

#include <cstdint>
#include <string_view>

namespace quorvex::client {

// The service's state as the service manager reports it; pid is 0 unless it runs.
struct ServiceState {
    std::uint32_t state = 0; // SERVICE_STOPPED (1) ... SERVICE_PAUSED (7)
    std::uint32_t pid = 0;
};

// "running", "stopped", "start pending", ...
[[nodiscard]] std::string_view service_state_name(std::uint32_t state);

// ServiceNotInstalled when the service manager knows no helper service.
[[nodiscard]] ClientResult<ServiceState> query_helper_service();
// ServiceNotRunning unless the state is running.
[[nodiscard]] ClientResult<void> require_running(const ServiceState& state);
// The process behind a running service, alive, with its creation time; ServiceProcessGone when
// it has ended (the service manager may keep reporting a killed service as running).
[[nodiscard]] ClientResult<ServiceProcess> live_service_process(std::uint32_t pid);
// NoPortPublished when the Runtime key or its Port value is missing.
[[nodiscard]] ClientResult<PublishedPort> read_published_port();

// Where a verified connect may go: the running service's live process and its fresh port.
struct HelperEndpoint {
    ServiceProcess process;
    PublishedPort published;
};
// Running, alive, and a port published after its process started, in that order.
[[nodiscard]] ClientResult<HelperEndpoint> locate_helper_service();

} // namespace quorvex::client
