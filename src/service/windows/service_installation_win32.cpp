#include "service/windows/service_installation.hpp"

#include "service/windows/service_manager_win32.hpp"
#include "service/windows/service_registration.hpp"
#include "service/windows/service_removal.hpp"

namespace quorvex::service {

Result<void> install_helper_service(std::uint32_t owner_pid) {
    SystemInstallationPlatform platform;
    SystemClock clock;
    return install_helper_service(owner_pid, platform, clock);
}

Result<void> uninstall_helper_service() {
    SystemInstallationPlatform platform;
    SystemClock clock;
    return uninstall_helper_service(platform, clock);
}

} // namespace quorvex::service
