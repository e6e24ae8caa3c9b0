#pragma once
// What the run loop needs from the operating system, behind narrow interfaces: the Win32 adapter
// in the product, loopback fakes in native tests.

#include "common/error.hpp"
#include "service/peer/peer_verdict.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace quorvex::peer {

// The owner check of accepted connections.
class ConnectionOwnerCheck {
public:
    virtual ~ConnectionOwnerCheck() = default;
    // For each connection, in order: may the process at the other end drive the service? One
    // answer for all at once, since the check is slow (blocking system calls).
    virtual std::vector<PeerVerdict> peer_verdicts(std::span<const boost::asio::ip::tcp::socket> connections,
                                                   std::string_view owner_sid) = 0;
};

class HelperServerPlatform : public ConnectionOwnerCheck {
public:
    // A listener on 127.0.0.1, system-chosen port, backlog 128, not inherited by child processes.
    virtual Result<boost::asio::ip::tcp::acceptor> open_listener(const boost::asio::any_io_executor& executor) = 0;
    // The volatile "Port" value under the service's Runtime key.
    virtual Result<void> publish_port(std::uint16_t port) = 0;
    virtual void unpublish_port() = 0;
};

// The product's platform: Winsock listener, registry, TCP table and process tokens. Windows only.
[[nodiscard]] std::unique_ptr<HelperServerPlatform> win32_helper_server_platform();

} // namespace quorvex::peer
