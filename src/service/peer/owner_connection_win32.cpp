#include "service/peer/owner_connection.hpp"

#include "platform/win32/system_error.hpp"
#include "service/peer/peer_check.hpp"
#include "service/peer/process_account.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

namespace quorvex::peer {

std::uint32_t SystemTcpTable::fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) {
    DWORD size = size_bytes;
    const DWORD status = ::GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, AF_INET,
                                               TCP_TABLE_OWNER_PID_ALL, 0);
    size_bytes = size;
    return status;
}

Error SystemTcpTable::error_of(std::uint32_t status) const { return win32::os_error(status); }

bool is_owner_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid) {
    SystemTcpTable table;
    TcpTableReader reader;
    return is_owner_connection(endpoints, owner_sid, reader, table, account_sid_of_process);
}

std::vector<bool> are_owner_connections(std::span<const ConnectionEndpoints> connections, std::string_view owner_sid,
                                        TcpTableReader& reader) {
    SystemTcpTable table;
    return are_owner_connections(connections, owner_sid, reader, table, account_sid_of_process);
}

} // namespace quorvex::peer
