// Reads the resource figures of a running process from outside, as a monitoring tool on Windows
// would:
//
//   process_probe.exe <service name> | --pid <process ID>
//
// prints one line "pid=<pid> handles=<n> threads=<n> private_committed=<bytes>" and exits 0, or
// names the failing call on standard error and exits 1.
//
// handles and threads come from the system's process list (NtQuerySystemInformation);
// private_committed is the sum of the committed private regions of the address space
// (VirtualQueryEx), what the system counts as a process's private bytes. Under Wine,
// GetProcessHandleCount and GetProcessMemoryInfo's PrivateUsage answer 0 for another process,
// so they are not used.

#include "platform/win32/unique_handle.hpp"

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using quorvex::win32::UniqueKernelHandle;
using quorvex::win32::UniqueServiceHandle;

int failed(const char* call) {
    (void)std::fprintf(stderr, "process_probe: %s failed with error %lu\n", call, ::GetLastError());
    return 1;
}

bool service_pid(const wchar_t* name, DWORD& pid) {
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return false;
    }
    const UniqueServiceHandle service(::OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    if (!service) {
        return false;
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                &needed)) {
        return false;
    }
    pid = status.dwProcessId;
    return pid != 0;
}

// The process's entry of the system's process list.
struct ListedProcess {
    DWORD threads = 0;
    DWORD handles = 0;
};

bool listed_process(DWORD pid, ListedProcess& listed) {
    std::vector<std::uint64_t> buffer(std::size_t{64} * 1024);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status = ::NtQuerySystemInformation(SystemProcessInformation, buffer.data(),
                                                           static_cast<ULONG>(buffer.size() * 8), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) { // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) {
            ::SetLastError(static_cast<DWORD>(status));
            return false;
        }
        break;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(bytes);
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId)) == pid) {
            listed = {entry->NumberOfThreads, entry->HandleCount};
            return true;
        }
        if (entry->NextEntryOffset == 0) {
            break;
        }
        bytes += entry->NextEntryOffset;
    }
    ::SetLastError(ERROR_NOT_FOUND);
    return false;
}

std::uint64_t committed_private_bytes(HANDLE process) {
    std::uint64_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr; ::VirtualQueryEx(process, address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
    }
    return total;
}

} // namespace

int main(int argc, char** argv) {
    DWORD pid = 0;
    wchar_t name[257] = {};
    if (argc == 3 && std::strcmp(argv[1], "--pid") == 0) {
        pid = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    } else if (argc == 2 && ::MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, name, 256) != 0) {
        if (!service_pid(name, pid)) {
            return failed("QueryServiceStatusEx");
        }
    } else {
        (void)std::fputs("usage: process_probe <service name> | --pid <process ID>\n", stderr);
        return 2;
    }
    const UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process) {
        return failed("OpenProcess");
    }

    ListedProcess listed;
    if (!listed_process(pid, listed)) {
        return failed("NtQuerySystemInformation");
    }

    std::printf("pid=%lu handles=%lu threads=%lu private_committed=%llu\n", pid, listed.handles, listed.threads,
                static_cast<unsigned long long>(committed_private_bytes(process.get())));
    return 0;
}
