#include "platform/win32/system_error.hpp"

#include "common/lowercase_hex.hpp"
#include "common/utf.hpp"
#include "platform/win32/unique_handle.hpp"

#include <winternl.h>

#include <optional>

namespace quorvex::win32 {
namespace {

// The message of `code` in `module`'s message table, or in the system's when `module` is null.
std::optional<std::string> message_text(HMODULE module, DWORD code) {
    const DWORD source = module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | source | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    UniqueLocalMemory owner(buffer);
    if (length == 0) {
        return std::nullopt;
    }
    std::u16string_view text(reinterpret_cast<const char16_t*>(buffer), length);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
        text.remove_suffix(1);
    }
    return utf16_to_utf8_lossy(text);
}

} // namespace

std::string system_message(DWORD code) { return message_text(nullptr, code).value_or("Unknown error"); }

Error os_error(DWORD code) { return Error::os(static_cast<std::int32_t>(code), system_message(code)); }

Error last_os_error() { return os_error(::GetLastError()); }

Error nt_status_error(LONG status) {
    std::optional<std::string> text = message_text(::GetModuleHandleW(L"ntdll.dll"), static_cast<DWORD>(status));
    if (!text) {
        text = system_message(::RtlNtStatusToDosError(status));
    }
    return Error::message(*text + " (NTSTATUS 0x" + lowercase_hex(static_cast<std::uint32_t>(status)) + ")");
}

} // namespace quorvex::win32
