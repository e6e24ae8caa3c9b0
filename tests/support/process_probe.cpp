// Reads the resource figures of a running process from outside, as a monitoring tool on Windows
// would:
//
//   process_probe.exe [--regions] <service name> | --pid <process ID>
//
// prints one line "pid=<pid> handles=<n> threads=<n> private_committed=<bytes>" and exits 0, or
// names the failing call on standard error and exits 1. --regions then prints where the private
// committed bytes are: one line per allocation, "region base=<address> committed=<bytes>
// guard=<0|1>", largest first (a guard page marks a thread's stack).
//
// handles and threads come from the system's process list (NtQuerySystemInformation);
// private_committed is the sum of the committed private regions of the address space
// (VirtualQueryEx), what the system counts as a process's private bytes. Under Wine,
// GetProcessHandleCount and GetProcessMemoryInfo's PrivateUsage answer 0 for another process,
// so they are not used.

#include "platform/win32/unique_handle.hpp"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
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

// How deep a stack has ever reached: from its lowest page that is not all zeros (a page the
// thread wrote) to its top. Wine commits a stack whole, and its pages start zeroed.
std::uint64_t touched_stack_bytes(HANDLE process, const void* base) {
    MEMORY_BASIC_INFORMATION region{};
    std::uint64_t top = 0;
    for (const char* address = static_cast<const char*>(base);
         ::VirtualQueryEx(process, address, &region, sizeof region) == sizeof region && region.AllocationBase == base;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        top = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    std::vector<unsigned char> page(4096);
    for (std::uint64_t at = reinterpret_cast<std::uintptr_t>(base); at < top; at += page.size()) {
        SIZE_T got = 0;
        if (!::ReadProcessMemory(
                process,
                reinterpret_cast<const void*>(at), // NOLINT(performance-no-int-to-ptr): an address in another process
                page.data(), page.size(), &got) ||
            got != page.size()) {
            continue; // the guard page, or a page not committed
        }
        if (std::any_of(page.begin(), page.end(), [](unsigned char byte) { return byte != 0; })) {
            return top - at;
        }
    }
    return 0;
}

// The committed private bytes of each allocation, and whether it holds a guard page.
void print_regions(HANDLE process) {
    std::map<const void*, std::pair<std::uint64_t, bool>> allocations;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr; ::VirtualQueryEx(process, address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            auto& [committed, guard] = allocations[region.AllocationBase];
            committed += region.RegionSize;
            guard = guard || (region.Protect & PAGE_GUARD) != 0;
        }
    }
    std::vector<std::pair<std::uint64_t, std::pair<const void*, bool>>> largest;
    largest.reserve(allocations.size());
    for (const auto& [base, figures] : allocations) {
        largest.push_back({figures.first, {base, figures.second}});
    }
    std::sort(largest.rbegin(), largest.rend());
    for (const auto& [committed, where] : largest) {
        std::printf("region base=%p committed=%llu guard=%d", where.first, static_cast<unsigned long long>(committed),
                    where.second ? 1 : 0);
        if (where.second) {
            std::printf(" stack_touched=%llu",
                        static_cast<unsigned long long>(touched_stack_bytes(process, where.first)));
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool regions = argc > 1 && std::strcmp(argv[1], "--regions") == 0;
    if (regions) {
        --argc;
        ++argv;
    }
    DWORD pid = 0;
    wchar_t name[257] = {};
    if (argc == 3 && std::strcmp(argv[1], "--pid") == 0) {
        pid = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    } else if (argc == 2 && ::MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, name, 256) != 0) {
        if (!service_pid(name, pid)) {
            return failed("QueryServiceStatusEx");
        }
    } else {
        (void)std::fputs("usage: process_probe [--regions] <service name> | --pid <process ID>\n", stderr);
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
    if (regions) {
        print_regions(process.get());
    }
    return 0;
}
