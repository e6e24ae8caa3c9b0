#pragma once
// Whether an accepted loopback connection comes from a process of the owner's account: the
// client's row in the TCP table names its process, whose token names its account.

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

} // namespace quorvex::peer
