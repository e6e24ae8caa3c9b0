#include "service/peer/peer_check.hpp"

#include "platform/win32/process_account.hpp"
#include "platform/win32/system_error.hpp"
#include "platform/win32/system_tcp_table.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

namespace quorvex::peer {

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

Result<TokenStanding> standing_of_token(HANDLE token) {
    TokenStanding standing;
    const auto label_buffer = win32::token_information(token, TokenIntegrityLevel);
    if (!label_buffer) {
        return fail(label_buffer.error());
    }
    const PSID label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label_buffer->data())->Label.Sid;
    const UCHAR sub_authorities = *::GetSidSubAuthorityCount(label);
    if (sub_authorities == 0) {
        return fail(Error::message("the integrity label has no level"));
    }
    standing.integrity_rid = *::GetSidSubAuthority(label, sub_authorities - 1u);

    DWORD app_container = 0;
    DWORD length = 0;
    if (!::GetTokenInformation(token, TokenIsAppContainer, &app_container, sizeof app_container, &length)) {
        return fail(win32::last_os_error());
    }
    standing.app_container = app_container != 0;

    // IsTokenRestricted rather than the TokenIsRestricted class, which not every system answers.
    // Its FALSE is taken as it is: it cannot tell a failed query from an unrestricted token (Wine
    // leaves error 1 after both), and with the token open for query, Windows' query does not fail.
    standing.restricted = ::IsTokenRestricted(token) != FALSE;
    return standing;
}

} // namespace

Result<PeerProcess> peer_process_of(std::uint32_t pid) {
    const auto token = win32::primary_token_of(pid);
    if (!token) {
        return fail(token.error());
    }
    auto account = win32::account_sid_of_token(token->get());
    if (!account) {
        return fail(account.error());
    }
    return PeerProcess{std::move(*account), standing_of_token(token->get())};
}

} // namespace quorvex::peer
