#include "client/helper_service.hpp"

#include "common/helper_contract.hpp"
#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"

#include <windows.h>

#include <string>

namespace quorvex::client {
namespace {

std::uint64_t ticks_of(const FILETIME& time) { return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

ClientError system_error(Error error) { return {ClientErrorKind::SystemError, std::move(error)}; }

const std::wstring& runtime_key_path() {
    static const std::wstring path = win32::to_wide(RUNTIME_KEY_PATH);
    return path;
}

} // namespace

std::string_view service_state_name(std::uint32_t state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "start pending";
    case SERVICE_STOP_PENDING:
        return "stop pending";
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_CONTINUE_PENDING:
        return "continue pending";
    case SERVICE_PAUSE_PENDING:
        return "pause pending";
    case SERVICE_PAUSED:
        return "paused";
    default:
        return "unknown";
    }
}

ClientResult<ServiceState> query_helper_service() {
    win32::UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return std::unexpected(system_error(win32::last_os_error().context("open Windows service manager")));
    }
    const std::wstring name = win32::to_wide(HELPER_SERVICE_NAME);
    win32::UniqueServiceHandle service(::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
            return fail(ClientErrorKind::ServiceNotInstalled,
                        win32::os_error(code).context("the helper service " + std::string(HELPER_SERVICE_NAME) +
                                                      " is not installed"));
        }
        return std::unexpected(system_error(win32::os_error(code).context("open the helper service")));
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                &needed)) {
        return std::unexpected(system_error(win32::last_os_error().context("query the helper service")));
    }
    return ServiceState{status.dwCurrentState, status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0};
}

ClientResult<void> require_running(const ServiceState& state) {
    if (state.state == SERVICE_RUNNING) {
        return {};
    }
    return fail(
        ClientErrorKind::ServiceNotRunning,
        Error::message("the helper service is " + std::string(service_state_name(state.state)) + ", not running"));
}

ClientResult<ServiceProcess> live_service_process(std::uint32_t pid) {
    const auto gone = [pid](Error cause) {
        return fail(
            ClientErrorKind::ServiceProcessGone,
            std::move(cause).context("the helper service's process " + std::to_string(pid) +
                                     " is not running, though the service manager reports the service running"));
    };
    win32::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_INVALID_PARAMETER) {
            return gone(win32::os_error(code));
        }
        return std::unexpected(system_error(win32::os_error(code).context("open the helper service's process")));
    }
    // A process that ended keeps its object while anyone (the service manager) holds a handle.
    // The helper never exits with STILL_ACTIVE's value, so the code alone tells.
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(process.get(), &exit_code)) {
        return std::unexpected(system_error(win32::last_os_error().context("query the helper service's process")));
    }
    if (exit_code != STILL_ACTIVE) {
        return gone(Error::message("it exited with code " + std::to_string(exit_code)));
    }
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) {
        return std::unexpected(system_error(win32::last_os_error().context("read the helper service's start time")));
    }
    return ServiceProcess{pid, ticks_of(created)};
}

ClientResult<PublishedPort> read_published_port() {
    const auto none = [](Error cause) {
        return fail(ClientErrorKind::NoPortPublished,
                    std::move(cause).context("the helper service has published no port"));
    };
    win32::UniqueRegistryKey key;
    const LSTATUS opened =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, runtime_key_path().c_str(), 0, KEY_QUERY_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        return none(win32::os_error(static_cast<DWORD>(opened)));
    }
    if (opened != ERROR_SUCCESS) {
        return std::unexpected(
            system_error(win32::os_error(static_cast<DWORD>(opened)).context("open the Runtime key")));
    }
    DWORD type = 0, value = 0, size = sizeof value;
    const LSTATUS read =
        ::RegQueryValueExW(key.get(), PORT_VALUE_NAME, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (read == ERROR_FILE_NOT_FOUND) {
        return none(win32::os_error(static_cast<DWORD>(read)));
    }
    if (read != ERROR_SUCCESS) {
        return std::unexpected(system_error(win32::os_error(static_cast<DWORD>(read)).context("read the Port value")));
    }
    if (type != REG_DWORD || size != sizeof value || value == 0 || value > 0xFFFF) {
        return none(Error::message("the Port value is not a port number"));
    }
    FILETIME written{};
    const LSTATUS queried = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, &written);
    if (queried != ERROR_SUCCESS) {
        return std::unexpected(
            system_error(win32::os_error(static_cast<DWORD>(queried)).context("read the Runtime key's write time")));
    }
    return PublishedPort{static_cast<std::uint16_t>(value), ticks_of(written)};
}

ClientResult<HelperEndpoint> locate_helper_service() {
    const auto state = query_helper_service();
    if (!state) {
        return std::unexpected(state.error());
    }
    if (auto running = require_running(*state); !running) {
        return std::unexpected(std::move(running.error()));
    }
    const auto process = live_service_process(state->pid);
    if (!process) {
        return std::unexpected(process.error());
    }
    const auto published = read_published_port();
    if (!published) {
        return std::unexpected(published.error());
    }
    if (auto fresh = check_port_is_fresh(*published, *process); !fresh) {
        return std::unexpected(std::move(fresh.error()));
    }
    return HelperEndpoint{*process, *published};
}

} // namespace quorvex::client
