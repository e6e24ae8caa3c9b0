#pragma once
// The helper's port: the listening socket that holds it (IPv4 loopback only, port chosen by the
// system) and its publication for the desktop application, in a volatile registry value that
// disappears at the next restart: RUNTIME_KEY_PATH under HKLM, PORT_VALUE_NAME.

#include "common/error.hpp"
#include "common/helper_contract.hpp"

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

// Windows only.
[[nodiscard]] Result<void> publish_port(std::uint16_t port);
// Deletes the whole Runtime key; the outcome is ignored. Windows only.
void unpublish_port();

} // namespace quorvex::peer
