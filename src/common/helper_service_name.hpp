#pragma once
// The name under which the helper is registered with the Service Control Manager. It also names
// the registry key of the published port and counts as a local host name at the request gate.

#include <string_view>

namespace quorvex {

inline constexpr std::string_view HELPER_SERVICE_NAME = "QuorvexHelperService";

} // namespace quorvex
