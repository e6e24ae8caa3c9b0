#include "service/peer/peer_check.hpp"

#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <sddl.h>

#include <vector>

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

Result<std::string> account_sid_of_process(std::uint32_t pid) {
    // Declared in acquisition order, so they are released in reverse: string, buffer, token,
    // process. Each error is captured before anything is released.
    win32::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return fail(win32::last_os_error());

    win32::UniqueKernelHandle token;
    if (!::OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) return fail(win32::last_os_error());

    DWORD length = 0;
    (void)::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &length);
    if (length == 0) return fail(win32::last_os_error());

    std::vector<std::uint64_t> buffer((std::size_t{length} + 7) / 8, 0);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(),
                               static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)), &length))
        return fail(win32::last_os_error());
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());

    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(user->User.Sid, &text)) return fail(win32::last_os_error());
    const win32::UniqueLocalMemory text_owner(text);
    return win32::to_utf8_lossy(text);
}

} // namespace quorvex::peer
