#include "platform/win32/system_dlls.hpp"

#include "platform/win32/system_error.hpp"
#include "platform/win32/wide.hpp"

#include <windows.h>

#include <delayimp.h>

#include "delay_loaded_dlls.hpp"

#include <string>

namespace {

// The delay-load helper asks here before it loads a DLL. They are all loaded already
// (load_delay_loaded_dlls), so this finds the loaded module. Were this load to fail, the helper
// would fall back to LoadLibraryA and the caller's search order: every user of these DLLs
// therefore loads them first and fails on its own terms if one cannot load.
FARPROC WINAPI load_from_system_directory(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) {
        return nullptr;
    }
    const std::string name(info->szDll);
    const std::wstring wide(name.begin(), name.end()); // import names are ASCII
    return reinterpret_cast<FARPROC>(::LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

} // namespace

// Declared extern "C" by <delayimp.h>; this definition replaces the runtime's empty one.
PfnDliHook __pfnDliNotifyHook2 = load_from_system_directory;

namespace quorvex::win32 {

Result<void> load_dlls_from_system_directory_only() {
    if (!::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return fail(last_os_error().context("limit DLL loading to the system directory"));
    }
    return load_delay_loaded_dlls();
}

Result<void> load_delay_loaded_dlls() {
    // Loaded for the life of the process: the delay-load helper binds its imports to these.
    for (const wchar_t* dll : DELAY_LOADED_DLLS) {
        if (::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) == nullptr) {
            return fail(last_os_error().context("load " + to_utf8_lossy(dll) + " from the system directory"));
        }
    }
    return {};
}

} // namespace quorvex::win32
