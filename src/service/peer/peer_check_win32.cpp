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

PeerVerdict verdict_of_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid) {
    SystemTcpTable table;
    TcpTableReader reader;
    return verdict_of_connection(endpoints, owner_sid, reader, table, peer_process_of);
}

std::vector<PeerVerdict> verdicts_of_connections(std::span<const ConnectionEndpoints> connections,
                                                 std::string_view owner_sid, TcpTableReader& reader) {
    SystemTcpTable table;
    return verdicts_of_connections(connections, owner_sid, reader, table, peer_process_of);
}

namespace {

Result<win32::UniqueKernelHandle> primary_token_of(std::uint32_t pid) {
    win32::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return fail(win32::last_os_error());
    win32::UniqueKernelHandle token;
    if (!::OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) return fail(win32::last_os_error());
    return token;
}

// A variable-length token information class, in a buffer aligned for the record it holds.
Result<std::vector<std::uint64_t>> token_information(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD length = 0;
    (void)::GetTokenInformation(token, kind, nullptr, 0, &length);
    if (length == 0) return fail(win32::last_os_error());
    std::vector<std::uint64_t> buffer((std::size_t{length} + 7) / 8, 0);
    if (!::GetTokenInformation(token, kind, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)),
                               &length))
        return fail(win32::last_os_error());
    return buffer;
}

Result<std::string> account_sid_of_token(HANDLE token) {
    const auto buffer = token_information(token, TokenUser);
    if (!buffer) return fail(buffer.error());
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer->data());
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(user->User.Sid, &text)) return fail(win32::last_os_error());
    const win32::UniqueLocalMemory text_owner(text);
    return win32::to_utf8_lossy(text);
}

Result<TokenStanding> standing_of_token(HANDLE token) {
    TokenStanding standing;
    const auto label_buffer = token_information(token, TokenIntegrityLevel);
    if (!label_buffer) return fail(label_buffer.error());
    const PSID label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label_buffer->data())->Label.Sid;
    const UCHAR sub_authorities = *::GetSidSubAuthorityCount(label);
    if (sub_authorities == 0) return fail(Error::message("the integrity label has no level"));
    standing.integrity_rid = *::GetSidSubAuthority(label, sub_authorities - 1u);

    DWORD app_container = 0;
    DWORD length = 0;
    if (!::GetTokenInformation(token, TokenIsAppContainer, &app_container, sizeof app_container, &length))
        return fail(win32::last_os_error());
    standing.app_container = app_container != 0;

    // IsTokenRestricted rather than the TokenIsRestricted class, which not every system answers.
    // Its FALSE is taken as it is: it cannot tell a failed query from an unrestricted token (Wine
    // leaves error 1 after both), and with the token open for query, Windows' query does not fail.
    standing.restricted = ::IsTokenRestricted(token) != FALSE;
    return standing;
}

} // namespace

Result<std::string> account_sid_of_process(std::uint32_t pid) {
    const auto token = primary_token_of(pid);
    if (!token) return fail(token.error());
    return account_sid_of_token(token->get());
}

Result<PeerProcess> peer_process_of(std::uint32_t pid) {
    const auto token = primary_token_of(pid);
    if (!token) return fail(token.error());
    auto account = account_sid_of_token(token->get());
    if (!account) return fail(account.error());
    return PeerProcess{std::move(*account), standing_of_token(token->get())};
}

} // namespace quorvex::peer
