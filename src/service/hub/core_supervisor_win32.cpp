// The process-wide CoreSupervisor, wired to the Win32 Core platform.
#include "service/hub/core_platform_win32.hpp"
#include "service/hub/core_supervisor.hpp"
#include "service/hub/expected_core_sha256.hpp"

namespace quorvex::hub {

CoreSupervisor& core_supervisor() {
    // Leaked on purpose: detached relay threads may call into it until the process ends.
    static CoreSupervisor* const supervisor = [] {
        auto* platform = new Win32CorePlatform(std::string(EXPECTED_CORE_SHA256));
        auto* clock = new SteadyClock;
        return new CoreSupervisor(*platform, helper_log(), *clock);
    }();
    return *supervisor;
}

} // namespace quorvex::hub
