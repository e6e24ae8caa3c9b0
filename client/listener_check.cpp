#include "client/listener_check.hpp"

#include <string>

namespace quorvex::client {
namespace {

const std::uint32_t LOOPBACK = peer::ipv4_address_from_octets({127, 0, 0, 1});
const std::uint32_t ANY_ADDRESS = peer::ipv4_address_from_octets({0, 0, 0, 0});

bool is_service_or_unattributed(std::uint32_t pid, const ServiceProcess& service) {
    return pid == service.pid || pid == UNATTRIBUTED_PID;
}

} // namespace

ClientResult<void> check_port_is_fresh(const PublishedPort& published, const ServiceProcess& service) {
    if (published.written >= service.created) {
        return {};
    }
    return fail(ClientErrorKind::StalePort,
                Error::message("port " + std::to_string(published.port) +
                               " was published before the helper service's process " + std::to_string(service.pid) +
                               " started: it names a listener of an earlier process"));
}

ClientResult<void> check_listener(std::span<const peer::TcpOwnerRow> rows, std::uint16_t port,
                                  const ServiceProcess& service) {
    const auto listens_on = [port](const peer::TcpOwnerRow& row, std::uint32_t address) {
        return row.state == peer::TCP_STATE_LISTEN && row.local.port == port && row.local.address == address;
    };
    const auto not_helper = [&](std::uint32_t pid) {
        return fail(ClientErrorKind::ListenerNotHelper,
                    Error::message("the listener on port " + std::to_string(port) + " belongs to process " +
                                   std::to_string(pid) + ", not to the helper service (process " +
                                   std::to_string(service.pid) + ")"));
    };
    // Windows lets any account bind the wildcard address on the helper's port after the helper
    // bound 127.0.0.1, and the more specific bind keeps every loopback connection. Such a row
    // is harmless once the table names the service as the owner of 127.0.0.1's listener; the
    // check of this connection's server end then decides.
    bool listening = false;
    bool service_holds_loopback = false;
    for (const peer::TcpOwnerRow& row : rows) {
        if (!listens_on(row, LOOPBACK)) {
            continue;
        }
        if (!is_service_or_unattributed(row.pid, service)) {
            return not_helper(row.pid);
        }
        listening = true;
        service_holds_loopback = service_holds_loopback || row.pid == service.pid;
    }
    for (const peer::TcpOwnerRow& row : rows) {
        if (!listens_on(row, ANY_ADDRESS)) {
            continue;
        }
        if (!is_service_or_unattributed(row.pid, service) && !service_holds_loopback) {
            return not_helper(row.pid);
        }
        listening = true;
    }
    if (listening) {
        return {};
    }
    return fail(ClientErrorKind::NoListener, Error::message("nothing listens on 127.0.0.1:" + std::to_string(port)));
}

ClientResult<void> check_accepted_connection(std::span<const peer::TcpOwnerRow> rows, std::uint16_t port,
                                             const peer::Ipv4Endpoint& client_end, const ServiceProcess& service) {
    const peer::Ipv4Endpoint server_end{LOOPBACK, port};
    for (const peer::TcpOwnerRow& row : rows) {
        if (row.local != server_end || row.remote != client_end) {
            continue;
        }
        if (is_service_or_unattributed(row.pid, service)) {
            return {};
        }
        return fail(ClientErrorKind::ConnectionNotHelper,
                    Error::message("the connection to port " + std::to_string(port) + " was accepted by process " +
                                   std::to_string(row.pid) + ", not by the helper service (process " +
                                   std::to_string(service.pid) + ")"));
    }
    return fail(ClientErrorKind::ConnectionNotHelper, Error::message("the connection to port " + std::to_string(port) +
                                                                     " has no server end in the TCP table"));
}

} // namespace quorvex::client
