#pragma once
// What the service manager, the system's process list and the registry say about the helper
// service, each read its own step with its own named error, and the first half of the verified
// connect built from them. The reads go through HelperSystem: every one of them is open to a
// standard, non-elevated user (docs/security.md names the right each needs), so no check rests on
// opening the service's process, which runs as LocalSystem and grants such a user nothing.

#include "client/client_error.hpp"
#include "client/listener_check.hpp"
#include "common/helper_contract.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace quorvex::client {

// The service's state as the service manager reports it; pid is 0 unless it runs.
struct ServiceState {
    std::uint32_t state = 0; // SERVICE_STOPPED (1) ... SERVICE_PAUSED (7)
    std::uint32_t pid = 0;
};

// A process as the system's process list shows it to every account.
struct ListedProcess {
    std::uint32_t pid = 0;
    std::uint64_t created = 0; // FILETIME ticks of 100 ns
    std::uint32_t threads = 0; // 0: the process has ended, and a handle someone holds keeps its entry
};

// The system's answers the client's checks rest on (Windows: the service manager, the process
// list, the Runtime key), so that the checks are tested on a scripted system.
class HelperSystem {
public:
    virtual ~HelperSystem() = default;
    // ServiceNotInstalled when the service manager knows no helper service.
    [[nodiscard]] virtual ClientResult<ServiceState> service_state() = 0;
    // The process list's entry for `pid`; none when no process has that ID.
    [[nodiscard]] virtual ClientResult<std::optional<ListedProcess>> listed_process(std::uint32_t pid) = 0;
    // NoPortPublished when the Runtime key or its Port value is missing, or the value is no port.
    [[nodiscard]] virtual ClientResult<PublishedPort> published_port() = 0;
};

// The system's own reads (Windows only).
[[nodiscard]] std::unique_ptr<HelperSystem> win32_helper_system();

// "running", "stopped", "start pending", ...
[[nodiscard]] std::string_view service_state_name(std::uint32_t state);

// ServiceNotRunning unless the state is running.
[[nodiscard]] ClientResult<void> require_running(const ServiceState& state);
// The process behind a running service, alive, with its creation time; ServiceProcessGone when
// it has ended (the service manager may keep reporting a killed service as running).
[[nodiscard]] ClientResult<ServiceProcess> live_service_process(HelperSystem& system, std::uint32_t pid);
// After the last check: the service's process is still the one the first check found. A process
// ID alone could by then name another process that took the dead helper's ID and port.
[[nodiscard]] ClientResult<void> check_same_process(HelperSystem& system, const ServiceProcess& service);

// Where a verified connect may go: the running service's live process and its fresh port.
struct HelperEndpoint {
    ServiceProcess process;
    PublishedPort published;
};
// Running, alive, and a port published after its process started, in that order.
[[nodiscard]] ClientResult<HelperEndpoint> locate_helper_service(HelperSystem& system);

} // namespace quorvex::client
