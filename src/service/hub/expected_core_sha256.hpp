#pragma once
// The digest of the one Core executable this build accepts, fixed when the helper is built:
// 64 lowercase hexadecimal digits. The build generates its definition (cmake/core_sha256.cmake).

#include <string_view>

namespace quorvex::hub {

extern const std::string_view EXPECTED_CORE_SHA256;

} // namespace quorvex::hub
