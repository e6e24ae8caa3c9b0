// Entry point of QuorvexHelper.exe: one command per process, chosen from the command line.

#include "command/command_line.hpp"
#include "command/failure_report.hpp"
#include "command/helper_command.hpp"
#include "command/service_owner.hpp"
#include "platform/win32/system_dlls.hpp"
#include "platform/win32/system_error.hpp"
#include "platform/win32/wide.hpp"
#include "service/windows/service_host_win32.hpp"
#include "service/windows/service_installation.hpp"
#include "service/windows/service_name.hpp"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <type_traits>
#include <variant>

namespace {

using namespace quorvex;

// Blocks until the service has stopped. The SCM's start arguments are not ours to read: the
// owner comes only from the registered command line.
Result<void> run_service(const command::RunService& command) {
    command::SERVICE_OWNER.store(command.owner_sid);
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(service::HELPER_SERVICE_NAME_W), service::helper_service_main},
        {nullptr, nullptr},
    };
    if (!::StartServiceCtrlDispatcherW(table)) return fail(win32::last_os_error().context("IO error in winapi call"));
    return {};
}

Result<void> run(const command::HelperCommand& command) {
    return std::visit(
        [](const auto& chosen) -> Result<void> {
            using Chosen = std::decay_t<decltype(chosen)>;
            if constexpr (std::is_same_v<Chosen, command::RunService>) return run_service(chosen);
            else if constexpr (std::is_same_v<Chosen, command::Install>)
                return service::install_helper_service(chosen.owner_pid);
            else return service::uninstall_helper_service();
        },
        command);
}

} // namespace

int main() {
    // Before anything else: no DLL may come from the helper's own folder.
    win32::load_dlls_from_system_directory_only();
    // The failure report's line breaks are LF alone, as the report is written.
    (void)::_setmode(::_fileno(stderr), _O_BINARY);
    const auto args = command::helper_arguments(win32::as_u16(::GetCommandLineW()));
    const auto command = command::choose_helper_command(args);
    const Result<void> outcome = command ? run(*command) : Result<void>(fail(command.error()));
    return command::finish_command(outcome, std::cerr);
}
