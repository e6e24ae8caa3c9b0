#pragma once
// Bridges between Windows wide strings and the UTF-8 used everywhere else.

#include "common/utf.hpp"

#include <string>
#include <string_view>

namespace quorvex::win32 {

[[nodiscard]] inline std::wstring to_wide(std::string_view utf8) {
    const std::u16string text = utf8_to_utf16(utf8);
    return {text.begin(), text.end()};
}

[[nodiscard]] inline std::u16string_view as_u16(std::wstring_view wide) {
    return {reinterpret_cast<const char16_t*>(wide.data()), wide.size()};
}

[[nodiscard]] inline std::string to_utf8_lossy(std::wstring_view wide) { return utf16_to_utf8_lossy(as_u16(wide)); }

} // namespace quorvex::win32
