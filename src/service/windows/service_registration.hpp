#pragma once
// Installing QuorvexHelperService for an owner account: replace any earlier registration, register
// the helper's own executable with --owner-sid, configure restarts, start it and wait until it runs.

#include "common/error.hpp"
#include "service/windows/service_clock.hpp"
#include "service/windows/service_manager.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex::service {

// Quotes one argument of the registered command line so that the C runtime's splitting gives it
// back unchanged; text without blanks or quotes stays as it is.
[[nodiscard]] std::string quote_service_argument(std::string_view text);

// The registration of the helper with this command line.
[[nodiscard]] ServiceRegistration helper_service_registration(std::string binary_path);
// Restart three times after 5 s; forget the failures after a day.
[[nodiscard]] ServiceFailureActions helper_service_failure_actions();

// The install command. Nothing is undone on failure: a service created before a later step
// failed stays registered.
[[nodiscard]] Result<void> install_helper_service(std::uint32_t owner_pid, InstallationPlatform& platform,
                                                  Clock& clock);
// Polls the freshly started service until it runs, for up to 10 s.
[[nodiscard]] Result<void> wait_for_helper_service_running(InstalledService& service, Clock& clock);

} // namespace quorvex::service
