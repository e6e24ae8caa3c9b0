#pragma once
// DLLs come from the system directory only. The system DLLs that are no KnownDLLs (iphlpapi,
// mswsock, bcrypt) are delay-loaded (cmake/delay/), and the delay-load helper is told to load
// each with LOAD_LIBRARY_SEARCH_SYSTEM32: the loader never looks in the helper's own folder,
// where a planted DLL would run as LocalSystem.

namespace quorvex::win32 {

// Limits every later LoadLibrary of this process to the system directory, then binds the
// delay-loaded system DLLs (the names of cmake/delay/*.def). Call it first in main, before
// anything could load a DLL.
void load_dlls_from_system_directory_only();

} // namespace quorvex::win32
