#include "service/windows/service_host_win32.hpp"

#include "command/service_owner.hpp"
#include "platform/win32/system_error.hpp"
#include "platform/win32/wide.hpp"
#include "service/peer/helper_server.hpp"
#include "service/windows/service_control.hpp"
#include "service/windows/service_host.hpp"
#include "service/windows/service_name.hpp"

#include <string>
#include <vector>

namespace quorvex::service {
namespace {

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
        if (!::SetServiceStatus(handle_, &status)) return fail(win32::last_os_error().context("IO error in winapi call"));
        return {};
    }

private:
    SERVICE_STATUS_HANDLE handle_;
};

// Runs on the thread that called StartServiceCtrlDispatcherW; the context is the StopFlag writer.
DWORD WINAPI helper_control_handler(DWORD control, DWORD, LPVOID, LPVOID context) {
    return handle_service_control(control, *static_cast<StopFlagWriter*>(context));
}

Result<std::unique_ptr<ServiceStatusReporter>> register_control_handler(StopFlagWriter writer) {
    // The SCM may call the handler until the process ends, so the context is never freed.
    auto context = std::make_unique<StopFlagWriter>(std::move(writer));
    const SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerExW(HELPER_SERVICE_NAME_W, helper_control_handler, context.get());
    if (handle == nullptr) return fail(win32::last_os_error().context("IO error in winapi call"));
    (void)context.release();
    return std::make_unique<ScmStatusReporter>(handle);
}

} // namespace

void WINAPI helper_service_main(DWORD argc, LPWSTR* argv) {
    // Start arguments are kept only while the service runs; the owner comes from the process
    // command line alone.
    std::vector<std::string> start_arguments;
    for (DWORD i = 0; i < argc && argv != nullptr; ++i)
        if (argv[i] != nullptr) start_arguments.push_back(win32::to_utf8_lossy(argv[i]));

    const ServiceHostParts parts{
        .register_control_handler = register_control_handler,
        .build_runtime = build_helper_runtime,
        .run_server = [](std::string owner_sid, StopSignal stop, ServiceStatusReporter& status) {
            return peer::run_helper_server(std::move(owner_sid), std::move(stop), status);
        },
    };
    // The SCM learns of a failure only through the stopped report's exit code.
    (void)run_helper_service(command::SERVICE_OWNER.load(), parts);
}

} // namespace quorvex::service
