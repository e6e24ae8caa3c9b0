#pragma once
// The accept loop: accepts on the listener, backs off one second after a failed accept, and
// hands on only connections whose peer runs under the owner's account. A refused connection is
// closed without a byte read or written; the first refusal of the process is logged once.

#include "service/peer/helper_server_platform.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace quorvex::peer {

class OwnerAcceptor {
public:
    using Handoff = std::function<void(boost::asio::ip::tcp::socket)>;

    OwnerAcceptor(boost::asio::ip::tcp::acceptor listener, std::string owner_sid, HelperServerPlatform& platform);

    // Runs until cancelled or `stopping` is set; each admitted connection goes to `handoff`.
    boost::asio::awaitable<void> run(const std::atomic<bool>& stopping, Handoff handoff);

    static constexpr std::chrono::seconds ACCEPT_BACKOFF{1};

private:
    boost::asio::ip::tcp::acceptor listener_;
    std::string owner_sid_;
    HelperServerPlatform& platform_;
};

// Whether the refusal line was already written by this process.
[[nodiscard]] bool refusal_already_logged();

} // namespace quorvex::peer
