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

} // namespace quorvex::win32
