#include "service/peer/peer_check.hpp"

#include <algorithm>

namespace quorvex::peer {
namespace {

char fold_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

bool sid_matches_owner(std::string_view account_sid, std::string_view owner_sid) {
    return std::ranges::equal(account_sid, owner_sid, [](char a, char b) { return fold_ascii(a) == fold_ascii(b); });
}

bool is_owner_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid, TcpTableReader& reader,
                         TcpTableSource& table, const AccountOfProcess& account_of) {
    return are_owner_connections({&endpoints, 1}, owner_sid, reader, table, account_of).front();
}

std::vector<bool> are_owner_connections(std::span<const ConnectionEndpoints> connections, std::string_view owner_sid,
                                        TcpTableReader& reader, TcpTableSource& table,
                                        const AccountOfProcess& account_of) {
    std::vector<bool> owners(connections.size(), false);
    if (connections.empty()) return owners;
    const auto rows = reader.read(table);
    if (!rows) return owners;
    for (std::size_t i = 0; i < connections.size(); ++i) {
        const auto pid = rows->owner_pid_of_client_row(connections[i]);
        // PID 0 is what the system shows for a socket it cannot attribute: never an owner.
        if (!pid || *pid == 0) continue;
        const auto account = account_of(*pid);
        owners[i] = account && sid_matches_owner(*account, owner_sid);
    }
    return owners;
}

} // namespace quorvex::peer
