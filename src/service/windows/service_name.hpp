#pragma once
// The name under which the helper is registered with the Service Control Manager.

namespace quorvex::service {

inline constexpr const char* HELPER_SERVICE_NAME = "QuorvexHelperService";
inline constexpr const wchar_t* HELPER_SERVICE_NAME_W = L"QuorvexHelperService";

} // namespace quorvex::service
