#pragma once
// Installing and removing the helper service, written against a narrow view of the Service
// Control Manager: the Win32 adapter in the product, a scripted fake in tests. Calls fail with the
// plain operating-system error; the procedures add "IO error in winapi call" and the step's
// context. Destroying a ServiceManager or InstalledService closes its handle.
//
// Install: replace any earlier registration, register the helper's own executable with
// --owner-sid, configure restarts, start it and wait until it runs. Removal: stop it if it runs,
// delete it, wait until the manager no longer knows it; a service that is already stopping,
// stopped or marked for deletion is fine, and nothing to remove is success.

#include "common/clock.hpp"
#include "common/error.hpp"
#include "common/helper_contract.hpp"
#include "service/windows/service_status.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::service {

// Access masks.
inline constexpr std::uint32_t MANAGER_CONNECT_ACCESS = 0x0001;  // SC_MANAGER_CONNECT
inline constexpr std::uint32_t MANAGER_INSTALL_ACCESS = 0x0003;  // ... | SC_MANAGER_CREATE_SERVICE
inline constexpr std::uint32_t SERVICE_REMOVAL_ACCESS = 0x10024; // DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS
inline constexpr std::uint32_t SERVICE_PROBE_ACCESS = 0x0004;    // SERVICE_QUERY_STATUS
inline constexpr std::uint32_t SERVICE_INSTALL_ACCESS = 0x0016;  // CHANGE_CONFIG | QUERY_STATUS | START

// Windows error numbers with a meaning of their own to installation and removal.
inline constexpr std::int32_t SCM_ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr std::int32_t SCM_ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr std::int32_t SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr std::int32_t SCM_ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr std::int32_t SCM_ERROR_SERVICE_MARKED_FOR_DELETE = 1072;

// Every service-manager wait polls at this interval and gives up at this limit.
inline constexpr std::chrono::milliseconds SERVICE_POLL_INTERVAL{100};
inline constexpr std::chrono::milliseconds SERVICE_WAIT_LIMIT{10000};

// The registration's fixed values.
inline constexpr std::uint32_t SERVICE_TYPE_OWN_PROCESS = 0x10; // SERVICE_WIN32_OWN_PROCESS
inline constexpr std::uint32_t START_TYPE_AUTO = 2;             // SERVICE_AUTO_START
inline constexpr std::uint32_t ERROR_CONTROL_NORMAL = 1;        // SERVICE_ERROR_NORMAL
inline constexpr std::uint32_t FAILURE_ACTION_RESTART = 1;      // SC_ACTION_RESTART

struct ServiceFailureAction {
    std::uint32_t type = 0;
    std::uint32_t delay_ms = 0;
    friend bool operator==(const ServiceFailureAction&, const ServiceFailureAction&) = default;
};

// SERVICE_FAILURE_ACTIONSW without reboot message and command.
struct ServiceFailureActions {
    std::uint32_t reset_period_s = 0;
    std::vector<ServiceFailureAction> actions;
    friend bool operator==(const ServiceFailureActions&, const ServiceFailureActions&) = default;
};

// The arguments of CreateServiceW; load order group, tag, dependencies and password are none.
struct ServiceRegistration {
    std::string name;
    std::string display_name;
    std::uint32_t access = 0;
    std::uint32_t service_type = 0;
    std::uint32_t start_type = 0;
    std::uint32_t error_control = 0;
    std::string binary_path;
    std::optional<std::string> account; // nothing: LocalSystem
    friend bool operator==(const ServiceRegistration&, const ServiceRegistration&) = default;
};

class InstalledService {
public:
    virtual ~InstalledService() = default;
    // QueryServiceStatusEx(SC_STATUS_PROCESS_INFO): the current state, unchecked.
    [[nodiscard]] virtual Result<std::uint32_t> query_state() = 0;
    // ControlService(SERVICE_CONTROL_STOP): the current state of the status it returns, unchecked.
    [[nodiscard]] virtual Result<std::uint32_t> send_stop() = 0;
    // DeleteService.
    [[nodiscard]] virtual Result<void> mark_for_deletion() = 0;
    // ChangeServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS).
    [[nodiscard]] virtual Result<void> set_failure_actions(const ServiceFailureActions& actions) = 0;
    // StartServiceW without arguments.
    [[nodiscard]] virtual Result<void> start() = 0;
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // OpenServiceW.
    [[nodiscard]] virtual Result<std::unique_ptr<InstalledService>> open_service(std::string_view name,
                                                                                 std::uint32_t access) = 0;
    // CreateServiceW.
    [[nodiscard]] virtual Result<std::unique_ptr<InstalledService>> create_service(
        const ServiceRegistration& registration) = 0;
};

// What the install and uninstall commands need from the system besides a service manager.
class InstallationPlatform {
public:
    virtual ~InstallationPlatform() = default;
    // OpenSCManagerW on the local machine's active database.
    [[nodiscard]] virtual Result<std::unique_ptr<ServiceManager>> open_manager(std::uint32_t access) = 0;
    // The account SID (S-1-... text) of a process.
    [[nodiscard]] virtual Result<std::string> account_sid_of_process(std::uint32_t pid) = 0;
    // The full path of the running executable.
    [[nodiscard]] virtual Result<std::string> own_executable_path() = 0;
};

// "Stopped", "StartPending", ... "Paused" for the states 1 to 7; nothing for any other value.
[[nodiscard]] std::optional<std::string_view> service_state_name(std::uint32_t state);
// A state read from the service manager; one outside 1 to 7 is a failure of the read.
[[nodiscard]] Result<std::uint32_t> checked_service_state(Result<std::uint32_t> state);
// The chain of a failed service-manager call: step, "IO error in winapi call", then the cause.
[[nodiscard]] Error scm_call_failure(Error cause, std::string step);
// A failed Win32 call of the service, below the step its caller names: "IO error in winapi
// call", then the system's error.
[[nodiscard]] Error winapi_call_failure(Error cause);

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

// The uninstall command: connects to the manager and removes the service.
[[nodiscard]] Result<void> uninstall_helper_service(InstallationPlatform& platform, Clock& clock);
// Stops (for up to 10 s) and deletes the service, then waits for it to disappear. `manager`
// needs at least connect access and stays open.
[[nodiscard]] Result<void> remove_helper_service(ServiceManager& manager, Clock& clock);
// Polls until the service name is unknown, for up to 10 s.
[[nodiscard]] Result<void> wait_for_helper_service_deletion(ServiceManager& manager, Clock& clock);

// The Service Control Manager, the account lookup and the own path, for real. Windows only.
class SystemInstallationPlatform final : public InstallationPlatform {
public:
    Result<std::unique_ptr<ServiceManager>> open_manager(std::uint32_t access) override;
    Result<std::string> account_sid_of_process(std::uint32_t pid) override;
    Result<std::string> own_executable_path() override;
};

// What the install and uninstall commands run: the system platform and the steady clock.
// Windows only.
[[nodiscard]] Result<void> install_helper_service(std::uint32_t owner_pid);
[[nodiscard]] Result<void> uninstall_helper_service();

} // namespace quorvex::service
