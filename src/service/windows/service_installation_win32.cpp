#include "service/windows/service_installation.hpp"

#include "platform/win32/executable_path.hpp"
#include "platform/win32/process_account.hpp"
#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"

#include <vector>

namespace quorvex::service {

// The values copied by hand into the portable header must be the system's.
static_assert(MANAGER_CONNECT_ACCESS == SC_MANAGER_CONNECT);
static_assert(MANAGER_INSTALL_ACCESS == (SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
static_assert(SERVICE_REMOVAL_ACCESS == (DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
static_assert(SERVICE_PROBE_ACCESS == SERVICE_QUERY_STATUS);
static_assert(SERVICE_INSTALL_ACCESS == (SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START));
static_assert(SCM_ERROR_SERVICE_ALREADY_RUNNING == ERROR_SERVICE_ALREADY_RUNNING);
static_assert(SCM_ERROR_SERVICE_DOES_NOT_EXIST == ERROR_SERVICE_DOES_NOT_EXIST);
static_assert(SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL == ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
static_assert(SCM_ERROR_SERVICE_NOT_ACTIVE == ERROR_SERVICE_NOT_ACTIVE);
static_assert(SCM_ERROR_SERVICE_MARKED_FOR_DELETE == ERROR_SERVICE_MARKED_FOR_DELETE);
static_assert(SERVICE_TYPE_OWN_PROCESS == SERVICE_WIN32_OWN_PROCESS);
static_assert(START_TYPE_AUTO == SERVICE_AUTO_START);
static_assert(ERROR_CONTROL_NORMAL == SERVICE_ERROR_NORMAL);
static_assert(FAILURE_ACTION_RESTART == SC_ACTION_RESTART);

namespace {

using win32::UniqueServiceHandle;

class SystemService final : public InstalledService {
public:
    explicit SystemService(UniqueServiceHandle handle) : handle_(std::move(handle)) {}

    Result<std::uint32_t> query_state() override {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (!::QueryServiceStatusEx(handle_.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                    sizeof status, &needed)) {
            return fail(win32::last_os_error());
        }
        return status.dwCurrentState;
    }

    Result<std::uint32_t> send_stop() override {
        SERVICE_STATUS status{};
        if (!::ControlService(handle_.get(), SERVICE_CONTROL_STOP, &status)) {
            return fail(win32::last_os_error());
        }
        return status.dwCurrentState;
    }

    Result<void> mark_for_deletion() override {
        if (!::DeleteService(handle_.get())) {
            return fail(win32::last_os_error());
        }
        return {};
    }

    Result<void> set_failure_actions(const ServiceFailureActions& actions) override {
        std::vector<SC_ACTION> records;
        for (const ServiceFailureAction& action : actions.actions) {
            records.push_back({static_cast<SC_ACTION_TYPE>(action.type), action.delay_ms});
        }
        SERVICE_FAILURE_ACTIONSW config{};
        config.dwResetPeriod = actions.reset_period_s;
        config.lpRebootMsg = nullptr;
        config.lpCommand = nullptr;
        config.cActions = static_cast<DWORD>(records.size());
        config.lpsaActions = records.data();
        if (!::ChangeServiceConfig2W(handle_.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &config)) {
            return fail(win32::last_os_error());
        }
        return {};
    }

    Result<void> start() override {
        if (!::StartServiceW(handle_.get(), 0, nullptr)) {
            return fail(win32::last_os_error());
        }
        return {};
    }

private:
    UniqueServiceHandle handle_;
};

class SystemServiceManager final : public ServiceManager {
public:
    explicit SystemServiceManager(UniqueServiceHandle handle) : handle_(std::move(handle)) {}

    Result<std::unique_ptr<InstalledService>> open_service(std::string_view name, std::uint32_t access) override {
        UniqueServiceHandle service(::OpenServiceW(handle_.get(), win32::to_wide(name).c_str(), access));
        if (!service) {
            return fail(win32::last_os_error());
        }
        return std::make_unique<SystemService>(std::move(service));
    }

    Result<std::unique_ptr<InstalledService>> create_service(const ServiceRegistration& registration) override {
        const std::wstring name = win32::to_wide(registration.name);
        const std::wstring display_name = win32::to_wide(registration.display_name);
        const std::wstring binary_path = win32::to_wide(registration.binary_path);
        const std::optional<std::wstring> account =
            registration.account ? std::optional(win32::to_wide(*registration.account)) : std::nullopt;
        UniqueServiceHandle service(::CreateServiceW(
            handle_.get(), name.c_str(), display_name.c_str(), registration.access, registration.service_type,
            registration.start_type, registration.error_control, binary_path.c_str(), nullptr, nullptr, nullptr,
            account ? account->c_str() : nullptr, nullptr));
        if (!service) {
            return fail(win32::last_os_error());
        }
        return std::make_unique<SystemService>(std::move(service));
    }

private:
    UniqueServiceHandle handle_;
};

} // namespace

Result<std::unique_ptr<ServiceManager>> SystemInstallationPlatform::open_manager(std::uint32_t access) {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, access));
    if (!manager) {
        return fail(win32::last_os_error());
    }
    return std::make_unique<SystemServiceManager>(std::move(manager));
}

Result<std::string> SystemInstallationPlatform::account_sid_of_process(std::uint32_t pid) {
    return win32::account_sid_of_process(pid);
}

Result<std::string> SystemInstallationPlatform::own_executable_path() {
    const Result<std::wstring> path = win32::own_executable_path();
    if (!path) {
        return fail(path.error());
    }
    // The path goes onto the command line: it must survive the trip through UTF-8.
    auto utf8 = utf16_to_utf8(win32::as_u16(*path));
    if (!utf8) {
        return fail(Error::message("the helper executable path is not valid Unicode"));
    }
    return std::move(*utf8);
}

Result<void> install_helper_service(std::uint32_t owner_pid) {
    SystemInstallationPlatform platform;
    SteadyClock clock;
    return install_helper_service(owner_pid, platform, clock);
}

Result<void> uninstall_helper_service() {
    SystemInstallationPlatform platform;
    SteadyClock clock;
    return uninstall_helper_service(platform, clock);
}

} // namespace quorvex::service
