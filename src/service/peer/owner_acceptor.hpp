#pragma once
// The accept loop: accepts on the listener, backs off one second after a failed accept, and
// hands on only connections whose peer runs unsandboxed under the owner's account. A refused
// connection is closed without a byte read or written; only the first refusal of each kind is
// logged, so a flood of them cannot push other lines out of the log, and the service makes one
// acceptor per process.
// Connections that queued up while a check ran are taken together and checked at once, so a
// slow check does not make every waiting client pay for it in turn.

#include "service/peer/helper_server_platform.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <bitset>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace quorvex::peer {

class OwnerAcceptor {
public:
    using Handoff = std::function<void(boost::asio::ip::tcp::socket)>;

    OwnerAcceptor(boost::asio::ip::tcp::acceptor listener, std::string owner_sid, ConnectionOwnerCheck& owner_check);

    // Runs until cancelled; each admitted connection goes to `handoff`. A connection accepted in
    // the same turn as the cancellation is closed unchecked.
    boost::asio::awaitable<void> run(Handoff handoff);

    static constexpr std::chrono::seconds ACCEPT_BACKOFF{1};
    // At most this many connections are checked together.
    static constexpr std::size_t MAX_CHECK_BATCH = 64;

private:
    // Adds the connections already waiting in the listener's queue, without waiting for more.
    void take_waiting_connections(std::vector<boost::asio::ip::tcp::socket>& batch);

    boost::asio::ip::tcp::acceptor listener_;
    std::string owner_sid_;
    ConnectionOwnerCheck& owner_check_;
    std::bitset<PEER_VERDICT_COUNT> refusals_logged_; // touched by run() only
};

} // namespace quorvex::peer
