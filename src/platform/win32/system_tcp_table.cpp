#include "platform/win32/system_tcp_table.hpp"

#include "platform/win32/system_error.hpp"

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

} // namespace quorvex::peer
