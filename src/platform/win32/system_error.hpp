#pragma once
// Operating-system errors as Error values, with the system's own message text.

#include "common/error.hpp"

#include <windows.h>

#include <string>

namespace quorvex::win32 {

// The system's message for `code`, without the trailing CR LF that FormatMessageW leaves.
[[nodiscard]] std::string system_message(DWORD code);
[[nodiscard]] Error os_error(DWORD code);
// Captures GetLastError(); call it right after the failing call.
[[nodiscard]] Error last_os_error();
// An NTSTATUS, as CNG returns them: "<system text> (NTSTATUS 0x...)". The text is ntdll's for the
// status, else the system's for the Win32 error it maps to.
[[nodiscard]] Error nt_status_error(LONG status);

} // namespace quorvex::win32
