#pragma once
// Removing QuorvexHelperService: stop it if it runs, delete it, wait until the Service Control
// Manager no longer knows it. Tolerates a service that is already stopping, stopped or marked
// for deletion, and succeeds quietly when there is nothing to remove.

#include "common/error.hpp"
#include "service/windows/service_clock.hpp"
#include "service/windows/service_manager.hpp"

namespace quorvex::service {

// The uninstall command: connects to the manager and removes the service.
[[nodiscard]] Result<void> uninstall_helper_service(InstallationPlatform& platform, Clock& clock);
// Stops (for up to 10 s) and deletes the service, then waits for it to disappear. `manager`
// needs at least connect access and stays open.
[[nodiscard]] Result<void> remove_helper_service(ServiceManager& manager, Clock& clock);
// Polls until the service name is unknown, for up to 10 s.
[[nodiscard]] Result<void> wait_for_helper_service_deletion(ServiceManager& manager, Clock& clock);

} // namespace quorvex::service
