// A DLL an attacker would plant beside the helper under the name of a system DLL. Loaded, it
// leaves "<its own path>.loaded" behind. Its exports carry the names the helper imports from
// the system DLLs it stands in for (and the one Wine's own iphlpapi imports from dnsapi), so that
// the loader takes it; none of them works.

#include <windows.h>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return TRUE;
    }
    ::lstrcatW(path, L".loaded");
    const HANDLE marker = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) {
        ::CloseHandle(marker);
    }
    return TRUE;
}

// Every export: a failure in the caller's terms (a Win32 error, a failed NTSTATUS, FALSE).
__declspec(dllexport) LONG WINAPI planted_stub() { return static_cast<LONG>(0xC00000BBL); }
__declspec(dllexport) BOOL WINAPI planted_false() { return FALSE; }
}
