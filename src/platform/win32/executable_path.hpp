#pragma once
// The full path of this process's executable file.

#include "common/error.hpp"

#include <string>

namespace quorvex::win32 {

// GetModuleFileNameW truncates silently: the buffer grows until the path fits, up to the
// longest path Windows has (32,767 characters); a longer answer is ERROR_INSUFFICIENT_BUFFER.
[[nodiscard]] Result<std::wstring> own_executable_path();

} // namespace quorvex::win32
