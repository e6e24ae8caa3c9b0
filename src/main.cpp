// Entry point of QuorvexHelper.exe: one command per process, chosen from the command line.

#include "command/helper_command.hpp"
#include "platform/win32/system_dlls.hpp"
#include "platform/win32/wide.hpp"
#include "service/windows/service_host.hpp"
#include "service/windows/service_installation.hpp"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <type_traits>
#include <variant>

namespace {

using namespace quorvex;

Result<void> run(const command::HelperCommand& command) {
    return std::visit(
        [](const auto& chosen) -> Result<void> {
            using Chosen = std::decay_t<decltype(chosen)>;
            // The SCM's start arguments are not ours to read: the owner comes only from the
            // registered command line.
            if constexpr (std::is_same_v<Chosen, command::RunService>) {
                return service::run_as_helper_service(chosen.owner_sid);
            } else if constexpr (std::is_same_v<Chosen, command::Install>) {
                return service::install_helper_service(chosen.owner_pid);
            } else {
                return service::uninstall_helper_service();
            }
        },
        command);
}

} // namespace

int main() {
    // The failure report's line breaks are LF alone, as the report is written.
    (void)::_setmode(::_fileno(stderr), _O_BINARY);
    // Before the command runs: no DLL may come from the helper's own folder, and one that cannot
    // load fails the command here rather than a worker thread at its first use.
    if (Result<void> loaded = win32::load_dlls_from_system_directory_only(); !loaded) {
        return command::finish_command(loaded, std::cerr);
    }
    try {
        const auto args = command::helper_arguments(win32::as_u16(::GetCommandLineW()));
        const auto command = command::choose_helper_command(args);
        const Result<void> outcome = command ? run(*command) : Result<void>(fail(command.error()));
        return command::finish_command(outcome, std::cerr);
    } catch (const std::exception& error) {
        // Allocation failures and the like: still the failure report, never an abort.
        return command::finish_command(fail(Error::message(error.what())), std::cerr);
    }
}
