#pragma once
// The helper's port: the listening socket that holds it (IPv4 loopback only, port chosen by the
// system) and its publication for the desktop application, in a volatile registry value that
// disappears at the next restart: HKLM\SYSTEM\CurrentControlSet\Services\<service name>\Runtime, "Port".

#include "common/error.hpp"
#include "common/helper_service_name.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <string_view>

namespace quorvex::peer {

inline constexpr int LISTEN_BACKLOG = 128;

// On Windows the socket is created without handle inheritance, so a Core launched with inherited
// handles never holds the helper's listener, and bound with SO_EXCLUSIVEADDRUSE. Natively, a plain Asio listener for
// the tests and benchmarks of the real run loop and transport.
[[nodiscard]] Result<boost::asio::ip::tcp::acceptor> open_loopback_listener(
    const boost::asio::any_io_executor& executor);

// The key that holds each service's own key; "Runtime" lies under the helper service's.
inline constexpr std::string_view SERVICES_KEY_PATH = "SYSTEM\\CurrentControlSet\\Services\\";
inline constexpr wchar_t PORT_VALUE_NAME[] = L"Port";

// Windows only.
[[nodiscard]] Result<void> publish_port(std::uint16_t port);
// Deletes the whole Runtime key; the outcome is ignored. Windows only.
void unpublish_port();

} // namespace quorvex::peer
