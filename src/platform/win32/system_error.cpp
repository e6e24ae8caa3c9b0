#include "platform/win32/system_error.hpp"

#include "common/utf.hpp"
#include "platform/win32/unique_handle.hpp"

namespace quorvex::win32 {

std::string system_message(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    UniqueLocalMemory owner(buffer);
    if (length == 0) return "Unknown error";
    std::u16string_view text(reinterpret_cast<const char16_t*>(buffer), length);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.remove_suffix(1);
    return utf16_to_utf8_lossy(text);
}

Error os_error(DWORD code) { return Error::os(static_cast<std::int32_t>(code), system_message(code)); }

Error last_os_error() { return os_error(::GetLastError()); }

} // namespace quorvex::win32
