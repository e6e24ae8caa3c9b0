#include "client/helper_service.hpp"

#include "common/helper_contract.hpp"
#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

namespace quorvex::client {
namespace {

constexpr NTSTATUS STATUS_INFO_LENGTH_MISMATCH_CODE = static_cast<NTSTATUS>(0xC0000004);
// The process list grows while it is read; each too-small answer gets this much room to spare.
constexpr ULONG PROCESS_LIST_SPARE = 64 * 1024;
constexpr int PROCESS_LIST_ATTEMPTS = 5;

std::uint64_t ticks_of(const FILETIME& time) { return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

ClientError system_error(Error error) { return {ClientErrorKind::SystemError, std::move(error)}; }

const std::wstring& runtime_key_path() {
    static const std::wstring path = win32::to_wide(RUNTIME_KEY_PATH);
    return path;
}

class Win32HelperSystem final : public HelperSystem {
public:
    // SC_MANAGER_CONNECT and SERVICE_QUERY_STATUS: the service manager and a service's default
    // security grant both to every interactive and authenticated user.
    ClientResult<ServiceState> service_state() override {
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
        if (!::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                    sizeof status, &needed)) {
            return std::unexpected(system_error(win32::last_os_error().context("query the helper service")));
        }
        return ServiceState{status.dwCurrentState, status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0};
    }

    // The process list that Task Manager shows every user: no right on any process is needed,
    // where opening the LocalSystem service's process is denied to a standard user.
    ClientResult<std::optional<ListedProcess>> listed_process(std::uint32_t pid) override {
        ULONG size = static_cast<ULONG>(process_list_.size());
        NTSTATUS status = STATUS_INFO_LENGTH_MISMATCH_CODE;
        for (int attempt = 0; attempt < PROCESS_LIST_ATTEMPTS && status == STATUS_INFO_LENGTH_MISMATCH_CODE;
             ++attempt) {
            process_list_.resize(size);
            ULONG needed = 0;
            status = ::NtQuerySystemInformation(SystemProcessInformation, process_list_.data(), size, &needed);
            size = std::max(needed, size) + PROCESS_LIST_SPARE;
        }
        if (status < 0) {
            return std::unexpected(system_error(win32::nt_status_error(status).context("list the system's processes")));
        }
        // Entries are chained by offsets; the last one's is 0.
        for (std::size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(process_list_.data() + offset);
            if (reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId) == pid) {
                return ListedProcess{pid, static_cast<std::uint64_t>(entry->CreateTime.QuadPart),
                                     entry->NumberOfThreads};
            }
            if (entry->NextEntryOffset == 0) {
                return std::nullopt;
            }
            offset += entry->NextEntryOffset;
        }
    }

    // KEY_QUERY_VALUE on a key under HKLM\SYSTEM\CurrentControlSet\Services, which Users may read.
    ClientResult<PublishedPort> published_port() override {
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
        // A value larger than a DWORD (text, say) is no port either.
        if (read == ERROR_MORE_DATA ||
            (read == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value || value == 0 || value > 0xFFFF))) {
            return none(Error::message("the Port value is not a port number"));
        }
        if (read != ERROR_SUCCESS) {
            return std::unexpected(
                system_error(win32::os_error(static_cast<DWORD>(read)).context("read the Port value")));
        }
        FILETIME written{};
        const LSTATUS queried = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, nullptr, &written);
        if (queried != ERROR_SUCCESS) {
            return std::unexpected(system_error(
                win32::os_error(static_cast<DWORD>(queried)).context("read the Runtime key's write time")));
        }
        return PublishedPort{static_cast<std::uint16_t>(value), ticks_of(written)};
    }

private:
    // Kept between reads: the list is about the same size each time.
    std::vector<std::byte> process_list_ = std::vector<std::byte>(std::size_t{256} * 1024);
};

} // namespace

std::unique_ptr<HelperSystem> win32_helper_system() { return std::make_unique<Win32HelperSystem>(); }

} // namespace quorvex::client
