#pragma once
// The helper's port, published for the desktop application in a volatile registry value that
// disappears at the next restart: HKLM\SYSTEM\CurrentControlSet\Services\<service name>\Runtime, "Port".

#include "common/error.hpp"
#include "common/helper_service_name.hpp"

#include <cstdint>
#include <string_view>

namespace quorvex::peer {

// The key that holds each service's own key; "Runtime" lies under the helper service's.
inline constexpr std::string_view SERVICES_KEY_PATH = "SYSTEM\\CurrentControlSet\\Services\\";
inline constexpr wchar_t PORT_VALUE_NAME[] = L"Port";

[[nodiscard]] Result<void> publish_port(std::uint16_t port);
// Deletes the whole Runtime key; the outcome is ignored.
void unpublish_port();

} // namespace quorvex::peer
