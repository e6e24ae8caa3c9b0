#pragma once
// The client's half of the trust: before a byte is sent, the listener on the published port must
// be the helper service's. These are the decisions, over values the Win32 side reads (the
// service manager, the Runtime key, the TCP table), so that each is tested on scripted input.
//
// An owner of 0 in a row is "not attributed": Windows names the owner of every live socket, and
// process 0 (the idle process) owns none, while Wine names no owner for listening and accepted
// sockets. A 0 is therefore no evidence for or against the helper: it passes the row check,
// and the checks that do not rest on the table (the service's process is alive, the port was
// published after it started) decide alone. A row that names any other process refuses.

#include "client/client_error.hpp"
#include "platform/tcp_owner_table.hpp"

#include <cstdint>
#include <span>

namespace quorvex::client {

// The row owner that names no process.
inline constexpr std::uint32_t UNATTRIBUTED_PID = 0;

// The running service's process: its ID and creation time (FILETIME ticks of 100 ns).
struct ServiceProcess {
    std::uint32_t pid = 0;
    std::uint64_t created = 0;
};

// The Port value and the last write time of the Runtime key that holds it (FILETIME ticks).
struct PublishedPort {
    std::uint16_t port = 0;
    std::uint64_t written = 0;
};

// Only SYSTEM and administrators can write the Runtime key, and the service writes it once
// after its process started: a key last written before that is a dead process's, whose port
// anyone may have taken since.
[[nodiscard]] ClientResult<void> check_port_is_fresh(const PublishedPort& published, const ServiceProcess& service);

// Before connecting: some row listens on 127.0.0.1:port (or on every address, which covers
// 127.0.0.1 too), and every such row is the service's or not attributed, save a wildcard row of
// another process beside a 127.0.0.1 row that names the service. `rows` are the table's rows
// with that local port.
[[nodiscard]] ClientResult<void> check_listener(std::span<const peer::TcpOwnerRow> rows, std::uint16_t port,
                                                const ServiceProcess& service);

// After connecting: the server's end of this very connection (local 127.0.0.1:port, remote the
// client's own endpoint) exists and is the service's or not attributed.
[[nodiscard]] ClientResult<void> check_accepted_connection(std::span<const peer::TcpOwnerRow> rows, std::uint16_t port,
                                                           const peer::Ipv4Endpoint& client_end,
                                                           const ServiceProcess& service);

} // namespace quorvex::client
