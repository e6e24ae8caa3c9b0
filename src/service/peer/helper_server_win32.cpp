#include "service/peer/helper_server_platform.hpp"

#include "service/peer/helper_port.hpp"
#include "service/peer/peer_check.hpp"

namespace quorvex::peer {
namespace {

// IPv4 endpoints as the TCP table stores them: the address bytes in network order.
std::optional<Ipv4Endpoint> ipv4_endpoint(const boost::asio::ip::tcp::endpoint& endpoint) {
    if (!endpoint.address().is_v4()) {
        return std::nullopt;
    }
    return Ipv4Endpoint{ipv4_address_from_octets(endpoint.address().to_v4().to_bytes()), endpoint.port()};
}

class Win32HelperServerPlatform final : public HelperServerPlatform {
public:
    Result<boost::asio::ip::tcp::acceptor> open_listener(const boost::asio::any_io_executor& executor) override {
        return open_loopback_listener(executor);
    }
    Result<void> publish_port(std::uint16_t port) override { return peer::publish_port(port); }
    void unpublish_port() override { peer::unpublish_port(); }

    std::vector<PeerVerdict> peer_verdicts(std::span<const boost::asio::ip::tcp::socket> connections,
                                           std::string_view owner_sid) override {
        // Only IPv4 connections whose endpoints can be read are looked up; the rest are refused.
        std::vector<ConnectionEndpoints> endpoints;
        std::vector<std::size_t> looked_up;
        for (std::size_t i = 0; i < connections.size(); ++i) {
            boost::system::error_code peer_error, local_error;
            const auto peer = ipv4_endpoint(connections[i].remote_endpoint(peer_error));
            const auto local = ipv4_endpoint(connections[i].local_endpoint(local_error));
            if (peer_error || local_error || !peer || !local) {
                continue;
            }
            endpoints.push_back({*peer, *local});
            looked_up.push_back(i);
        }
        std::vector<PeerVerdict> verdicts(connections.size(), PeerVerdict::foreign_account);
        const std::vector<PeerVerdict> answers = verdicts_of_connections(endpoints, owner_sid, table_reader_);
        for (std::size_t j = 0; j < looked_up.size(); ++j) {
            verdicts[looked_up[j]] = answers[j];
        }
        return verdicts;
    }

private:
    // Only the accept loop checks connections, one batch at a time: one buffer serves them all.
    TcpTableReader table_reader_;
};

} // namespace

std::unique_ptr<HelperServerPlatform> win32_helper_server_platform() {
    return std::make_unique<Win32HelperServerPlatform>();
}

} // namespace quorvex::peer
