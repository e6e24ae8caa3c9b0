#include "service/windows/service_host.hpp"

#include "common/helper_contract.hpp"
#include "platform/win32/system_error.hpp"
#include "platform/win32/wide.hpp"
#include "service/hub/core_platform_win32.hpp"
#include "service/windows/helper_wiring.hpp"
#include "service/windows/service_installation.hpp"

#include <windows.h>

#include <string>

namespace quorvex::service {

// The values copied by hand into the portable headers must be the system's.
static_assert(SERVICE_STATE_STOPPED == SERVICE_STOPPED);
static_assert(SERVICE_STATE_START_PENDING == SERVICE_START_PENDING);
static_assert(SERVICE_STATE_STOP_PENDING == SERVICE_STOP_PENDING);
static_assert(SERVICE_STATE_RUNNING == SERVICE_RUNNING);
static_assert(SERVICE_ACCEPTS_STOP == SERVICE_ACCEPT_STOP);
static_assert(CONTROL_STOP == SERVICE_CONTROL_STOP);
static_assert(CONTROL_INTERROGATE == SERVICE_CONTROL_INTERROGATE);
static_assert(CONTROL_HANDLED == NO_ERROR);
static_assert(CONTROL_NOT_IMPLEMENTED == ERROR_CALL_NOT_IMPLEMENTED);

namespace {

// The dispatcher table and the control handler registration need the name as a wide C string.
const std::wstring& helper_service_name_w() {
    static const std::wstring name = win32::to_wide(HELPER_SERVICE_NAME);
    return name;
}

// Reports through the status handle. The handle is never closed, and SetServiceStatus may be
// called from any thread.
class ScmStatusReporter final : public ServiceStatusReporter {
public:
    explicit ScmStatusReporter(SERVICE_STATUS_HANDLE handle) : handle_(handle) {}

    Result<void> report(const ServiceStatusReport& report) override {
        SERVICE_STATUS status{};
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = report.current_state;
        status.dwControlsAccepted = report.controls_accepted;
        status.dwWin32ExitCode = report.win32_exit_code;
        status.dwServiceSpecificExitCode = 0;
        status.dwCheckPoint = report.checkpoint;
        status.dwWaitHint = report.wait_hint_ms;
        if (!::SetServiceStatus(handle_, &status)) {
            return fail(winapi_call_failure(win32::last_os_error()));
        }
        return {};
    }

private:
    SERVICE_STATUS_HANDLE handle_;
};

// Runs on the thread that called StartServiceCtrlDispatcherW; the context holds the StopRequest.
DWORD WINAPI helper_control_handler(DWORD control, DWORD, LPVOID, LPVOID context) {
    return handle_service_control(control, **static_cast<std::shared_ptr<StopRequest>*>(context));
}

Result<std::unique_ptr<ServiceStatusReporter>> register_control_handler(std::shared_ptr<StopRequest> stop) {
    // The SCM may call the handler until the process ends, so the context is never freed.
    auto context = std::make_unique<std::shared_ptr<StopRequest>>(std::move(stop));
    const SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerExW(helper_service_name_w().c_str(), helper_control_handler, context.get());
    if (handle == nullptr) {
        return fail(winapi_call_failure(win32::last_os_error()));
    }
    (void)context.release();
    return std::make_unique<ScmStatusReporter>(handle);
}

// The service main callback that the dispatcher table names. Start arguments are ignored: the
// owner comes from the process command line alone. Returns once the stopped report was sent.
void WINAPI helper_service_main(DWORD, LPWSTR*) {
    // The product's parts, over the process-wide log. Never destroyed: a Core's relay thread is
    // detached and may still write to the log and ask the supervisor after the service stopped.
    auto* const wiring = new HelperWiring(
        HelperPlatforms{
            .core = std::make_unique<hub::Win32CorePlatform>(std::string(EXPECTED_CORE_SHA256)),
            .server = peer::win32_helper_server_platform(),
            .clock = std::make_unique<SteadyClock>(),
        },
        helper_log());
    const ServiceHostParts parts{
        .register_control_handler = register_control_handler,
        .build_runtime = build_helper_runtime,
        .run_server = [wiring](std::string owner_sid, peer::ServerHost& host,
                               HelperRuntime& runtime) { return wiring->serve(std::move(owner_sid), host, runtime); },
    };
    // The SCM learns of a failure only through the stopped report's exit code.
    (void)run_helper_service(SERVICE_OWNER.load(), parts);
}

} // namespace

Result<void> run_as_helper_service(std::string owner_sid) {
    SERVICE_OWNER.store(std::move(owner_sid));
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(helper_service_name_w().c_str()), helper_service_main},
        {nullptr, nullptr},
    };
    if (!::StartServiceCtrlDispatcherW(table)) {
        return fail(winapi_call_failure(win32::last_os_error()));
    }
    return {};
}

} // namespace quorvex::service
