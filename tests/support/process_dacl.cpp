// Gives a running process the DACL that Windows gives a LocalSystem service's process, so that
// Wine, which lets every process of its one account open every other, denies what Windows
// denies a standard or unelevated user:
//
//   process_dacl.exe <process ID> <DACL in SDDL, e.g. D:(A;;0x1fffff;;;SY)>
//
// Then it shows that the DACL holds: its own OpenProcess for PROCESS_QUERY_LIMITED_INFORMATION
// must fail. Prints "denied=<error>" and exits 0, or names the failing step and exits 1.

#include "platform/win32/unique_handle.hpp"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>

namespace {

int failed(const char* step, DWORD error) {
    (void)std::fprintf(stderr, "process_dacl: %s failed with error %lu\n", step, error);
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        (void)std::fputs("usage: process_dacl.exe <process ID> <SDDL DACL>\n", stderr);
        return 2;
    }
    const auto pid = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[2], SDDL_REVISION_1, &descriptor, nullptr)) {
        return failed("ConvertStringSecurityDescriptorToSecurityDescriptorW", ::GetLastError());
    }
    const quorvex::win32::UniqueLocalMemory descriptor_owner(descriptor);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) {
        return failed("GetSecurityDescriptorDacl", ::GetLastError());
    }
    {
        const quorvex::win32::UniqueKernelHandle process(::OpenProcess(WRITE_DAC, FALSE, pid));
        if (!process) {
            return failed("OpenProcess(WRITE_DAC)", ::GetLastError());
        }
        const DWORD set = ::SetSecurityInfo(process.get(), SE_KERNEL_OBJECT,
                                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, dacl, nullptr);
        if (set != ERROR_SUCCESS) {
            return failed("SetSecurityInfo", set);
        }
    }
    const quorvex::win32::UniqueKernelHandle reopened(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (reopened) {
        return failed("the DACL: OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION) still succeeds;", 0);
    }
    (void)std::printf("denied=%lu\n", ::GetLastError());
    return 0;
}
