#pragma once
// The helper's port, published for the desktop application in a volatile registry value that
// disappears at the next restart: HKLM\SYSTEM\CurrentControlSet\Services\QuorvexHelperService\Runtime, "Port".

#include "common/error.hpp"

#include <cstdint>

namespace quorvex::peer {

inline constexpr wchar_t RUNTIME_KEY_PATH[] = L"SYSTEM\\CurrentControlSet\\Services\\QuorvexHelperService\\Runtime";
inline constexpr wchar_t PORT_VALUE_NAME[] = L"Port";

[[nodiscard]] Result<void> publish_port(std::uint16_t port);
// Deletes the whole Runtime key; the outcome is ignored.
void unpublish_port();

} // namespace quorvex::peer
