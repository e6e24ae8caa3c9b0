#pragma once
// Installing and removing the helper service; what the install and uninstall commands run.

#include "common/error.hpp"

#include <cstdint>

namespace quorvex::service {

// Registers QuorvexHelperService for the account of process `owner_pid`, starts it and waits
// until it runs. Replaces any earlier registration.
[[nodiscard]] Result<void> install_helper_service(std::uint32_t owner_pid);
// Stops and deletes the service and waits until it is gone.
[[nodiscard]] Result<void> uninstall_helper_service();

} // namespace quorvex::service
