#pragma once
// The peer check as the accept loop calls it, against the real system. Windows only.

#include "service/peer/tcp_owner_table.hpp"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorvex::peer {

// GetExtendedTcpTable for AF_INET with TCP_TABLE_OWNER_PID_ALL, unsorted.
class SystemTcpTable final : public TcpTableSource {
public:
    std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) override;
    [[nodiscard]] Error error_of(std::uint32_t status) const override;
};

// Whether the process at the client end of an accepted IPv4 connection runs under `owner_sid`.
// `endpoints` are what getpeername and getsockname gave for the accepted socket; the caller
// refuses anything that is not IPv4 itself. Blocks on system calls; never fails, a failure is no.
[[nodiscard]] bool is_owner_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid);
// The same for several connections, from one read of the table into `reader`'s buffer.
[[nodiscard]] std::vector<bool> are_owner_connections(std::span<const ConnectionEndpoints> connections,
                                                      std::string_view owner_sid, TcpTableReader& reader);

} // namespace quorvex::peer
