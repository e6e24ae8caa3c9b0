#pragma once
// Whether an accepted loopback connection comes from a process of the owner's account: the
// client's row in the TCP table names its process, whose token names its account. The check is
// portable over a TcpTableSource and an AccountOfProcess; the product's sources of both, which
// read the real system, are declared at the end and exist on Windows only.

#include "common/error.hpp"
#include "service/peer/tcp_owner_table.hpp"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::peer {

// The account SID (S-1-... text) of a process: account_sid_of_process in the product.
using AccountOfProcess = std::function<Result<std::string>(std::uint32_t pid)>;

// Same length and equal bytes once ASCII A-Z are folded to a-z; no other folding.
[[nodiscard]] bool sid_matches_owner(std::string_view account_sid, std::string_view owner_sid);

// Yes only when the client's row is found, names a process other than 0, and that process runs
// under `owner_sid`. Every failure on the way is a no.
[[nodiscard]] bool is_owner_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid,
                                       TcpTableReader& reader, TcpTableSource& table,
                                       const AccountOfProcess& account_of);

// is_owner_connection for each of `connections`, in order, from one read of the table: reading
// the table is the slow part, so the accept loop checks every waiting connection at once.
[[nodiscard]] std::vector<bool> are_owner_connections(std::span<const ConnectionEndpoints> connections,
                                                      std::string_view owner_sid, TcpTableReader& reader,
                                                      TcpTableSource& table, const AccountOfProcess& account_of);

// GetExtendedTcpTable for AF_INET with TCP_TABLE_OWNER_PID_ALL, unsorted.
class SystemTcpTable final : public TcpTableSource {
public:
    std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) override;
    [[nodiscard]] Error error_of(std::uint32_t status) const override;
};

// The user SID of process `pid` in its S-1-... form, read from its primary token, or the
// operating-system error of the first call that failed. Used by the peer check and by the
// installer for --owner-pid.
[[nodiscard]] Result<std::string> account_sid_of_process(std::uint32_t pid);

// The peer check against the real system, as the accept loop calls it. `endpoints` are what
// getpeername and getsockname gave for the accepted socket; the caller refuses anything that is
// not IPv4 itself. Blocks on system calls; never fails, a failure is no.
[[nodiscard]] bool is_owner_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid);
// The same for several connections, from one read of the table into `reader`'s buffer.
[[nodiscard]] std::vector<bool> are_owner_connections(std::span<const ConnectionEndpoints> connections,
                                                      std::string_view owner_sid, TcpTableReader& reader);

} // namespace quorvex::peer
