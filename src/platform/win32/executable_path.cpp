#include "platform/win32/executable_path.hpp"

#include "platform/win32/system_error.hpp"

#include <windows.h>

#include <algorithm>

namespace quorvex::win32 {
namespace {

// UNICODE_STRING counts bytes in 16 bits: no path is longer than this, its terminator included.
constexpr std::size_t LONGEST_PATH = 32'768;

} // namespace

Result<std::wstring> own_executable_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return fail(last_os_error());
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= LONGEST_PATH) {
            return fail(os_error(ERROR_INSUFFICIENT_BUFFER));
        }
        path.resize(std::min(path.size() * 2, LONGEST_PATH));
    }
}

} // namespace quorvex::win32
