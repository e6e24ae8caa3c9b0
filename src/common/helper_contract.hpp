#pragma once
// What the helper service and its clients must agree on, in one place: the names and constants
// of the protocol between them, with no behaviour. Both halves include this header; neither
// keeps a copy of a value.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvex {

// The name under which the helper is registered with the Service Control Manager. It also names
// the registry key of the published port and counts as a local host name at the request gate.
inline constexpr std::string_view HELPER_SERVICE_NAME = "QuorvexHelperService";
// SERVICE_RUNNING: the only state in which the helper serves.
inline constexpr std::uint32_t SERVICE_STATE_RUNNING = 4;

// The published port: a REG_DWORD in a volatile key under HKLM that disappears at the next
// restart, the service's own Runtime key, value "Port".
inline constexpr std::string_view RUNTIME_KEY_PATH =
    "SYSTEM\\CurrentControlSet\\Services\\QuorvexHelperService\\Runtime";
// The helper service's own key holds its Runtime key.
static_assert(RUNTIME_KEY_PATH.substr(34).starts_with(HELPER_SERVICE_NAME));
inline constexpr wchar_t PORT_VALUE_NAME[] = L"Port";

// Every reply of the ping endpoint carries the helper's protocol version in this header.
inline constexpr std::string_view HELPER_PROTOCOL_HEADER = "x-quorvex-helper-protocol";
inline constexpr std::string_view HELPER_PROTOCOL_VERSION = "8";

// Two backslashes, a full stop, a backslash, "pipe", a backslash, "QuorvexCore_": 21 bytes.
inline constexpr std::string_view CORE_PIPE_PREFIX = "\\\\.\\pipe\\QuorvexCore_";
// Session IDs and the Core pipe address's suffix: this many lowercase hexadecimal digits.
inline constexpr std::size_t CORE_ID_DIGITS = 32;
// A Core digest: SHA-256 as lowercase hexadecimal digits.
inline constexpr std::size_t CORE_SHA256_DIGITS = 64;

// The digest of the one Core executable this build accepts, fixed when the helper is built:
// CORE_SHA256_DIGITS lowercase hexadecimal digits. The build generates its definition
// (cmake/core_sha256.cmake); the control tool offers it as its default.
extern const std::string_view EXPECTED_CORE_SHA256;

} // namespace quorvex
