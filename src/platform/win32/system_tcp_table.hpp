#pragma once
// The system's TCP table as a TcpTableSource: what the helper's peer check and the client's
// listener check both read.

#include "platform/tcp_owner_table.hpp"

#include <cstdint>
#include <span>

namespace quorvex::peer {

// GetExtendedTcpTable for AF_INET with TCP_TABLE_OWNER_PID_ALL, unsorted.
class SystemTcpTable final : public TcpTableSource {
public:
    std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) override;
    [[nodiscard]] Error error_of(std::uint32_t status) const override;
};

} // namespace quorvex::peer
