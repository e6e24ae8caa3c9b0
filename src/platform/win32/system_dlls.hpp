#pragma once
// DLLs come from the system directory only. The system DLLs that are no KnownDLLs (iphlpapi,
// mswsock, bcrypt) are delay-loaded (cmake/delay/), so the loader never looks for them in the
// helper's own folder, where a planted DLL would run as LocalSystem.

#include "common/error.hpp"

namespace quorvex::win32 {

// Limits every later LoadLibrary of this process to the system directory, then loads each
// delay-loaded system DLL (the names of cmake/delay/*.def) from there. Call it first in main,
// on the main thread: a DLL that cannot load is then a failed command, not an exception on a
// worker thread at first use. Fails with the step that failed.
[[nodiscard]] Result<void> load_dlls_from_system_directory_only();

// Only the second half: each delay-loaded system DLL from the system directory, kept for the
// life of the process, for a DLL that must leave its host's DLL search as it is. Call it before
// anything that needs one of them.
[[nodiscard]] Result<void> load_delay_loaded_dlls();

} // namespace quorvex::win32
