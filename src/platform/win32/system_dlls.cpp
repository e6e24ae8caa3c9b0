#include "platform/win32/system_dlls.hpp"

#include <windows.h>

#include <delayimp.h>

#include <string>

namespace {

// Loads a delay-loaded DLL from the system directory, never from the executable's folder or the
// current directory. Returning nothing leaves the helper's own LoadLibraryA, which the default
// directories set below confine to the system directory as well.
FARPROC WINAPI load_from_system_directory(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
    const std::string name(info->szDll);
    const std::wstring wide(name.begin(), name.end()); // import names are ASCII
    return reinterpret_cast<FARPROC>(::LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

} // namespace

// Declared extern "C" by <delayimp.h>; this definition replaces the runtime's empty one.
PfnDliHook __pfnDliNotifyHook2 = load_from_system_directory;

namespace quorvex::win32 {

void load_dlls_from_system_directory_only() {
    // Fails only for invalid flags; the delay-load hook above holds either way.
    (void)::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Bound now, as plain imports were at start: the first connection or start pays for no
    // DLL load. A DLL this executable does not delay-load is refused here, harmlessly.
    for (const char* dll : {"IPHLPAPI.DLL", "MSWSOCK.dll", "BCRYPT.dll"}) (void)::__HrLoadAllImportsForDll(dll);
}

} // namespace quorvex::win32
