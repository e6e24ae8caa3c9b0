#pragma once
// Whether an accepted loopback connection comes from an unsandboxed process of the owner's
// account: the client's row in the TCP table names its process, whose token names its account
// and standing. The check is portable over a TcpTableSource and a PeerProcessOf; the product's
// sources of both, which read the real system, are declared at the end and exist on Windows only.

#include "common/error.hpp"
#include "service/peer/peer_verdict.hpp"
#include "platform/tcp_owner_table.hpp"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::peer {

// The account and standing of a process's token: peer_process_of in the product.
using PeerProcessOf = std::function<Result<PeerProcess>(std::uint32_t pid)>;

// Admitted only when the client's row is found, names a process other than 0, and that process
// runs under `owner_sid` unsandboxed (verdict_for). Every failure before the account is known
// reads as another account.
[[nodiscard]] PeerVerdict verdict_of_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid,
                                                TcpTableReader& reader, TcpTableSource& table,
                                                const PeerProcessOf& process_of);

// verdict_of_connection for each of `connections`, in order, from one read of the table: reading
// the table is the slow part, so the accept loop checks every waiting connection at once.
[[nodiscard]] std::vector<PeerVerdict> verdicts_of_connections(std::span<const ConnectionEndpoints> connections,
                                                               std::string_view owner_sid, TcpTableReader& reader,
                                                               TcpTableSource& table, const PeerProcessOf& process_of);

// The user SID and the standing of process `pid`'s primary token, from one open of it. Fails as
// win32::account_sid_of_process does; a failed standing query fails the standing alone.
[[nodiscard]] Result<PeerProcess> peer_process_of(std::uint32_t pid);

// The peer check against the real system, as the accept loop calls it. `endpoints` are what
// getpeername and getsockname gave for the accepted socket; the caller refuses anything that is
// not IPv4 itself. Blocks on system calls; never fails, a failure is a refusal.
[[nodiscard]] PeerVerdict verdict_of_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid);
// The same for several connections, from one read of the table into `reader`'s buffer.
[[nodiscard]] std::vector<PeerVerdict> verdicts_of_connections(std::span<const ConnectionEndpoints> connections,
                                                               std::string_view owner_sid, TcpTableReader& reader);

} // namespace quorvex::peer
