#include "service/peer/peer_check.hpp"

namespace quorvex::peer {

PeerVerdict verdict_of_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid,
                                  TcpTableReader& reader, TcpTableSource& table, const PeerProcessOf& process_of) {
    return verdicts_of_connections({&endpoints, 1}, owner_sid, reader, table, process_of).front();
}

std::vector<PeerVerdict> verdicts_of_connections(std::span<const ConnectionEndpoints> connections,
                                                 std::string_view owner_sid, TcpTableReader& reader,
                                                 TcpTableSource& table, const PeerProcessOf& process_of) {
    std::vector<PeerVerdict> verdicts(connections.size(), PeerVerdict::foreign_account);
    if (connections.empty()) {
        return verdicts;
    }
    const auto rows = reader.read(table);
    if (!rows) {
        return verdicts;
    }
    for (std::size_t i = 0; i < connections.size(); ++i) {
        const auto pid = rows->owner_pid_of_client_row(connections[i]);
        // PID 0 is what the system shows for a socket it cannot attribute: never an owner.
        if (!pid || *pid == 0) {
            continue;
        }
        const auto process = process_of(*pid);
        if (process) {
            verdicts[i] = verdict_for(*process, owner_sid);
        }
    }
    return verdicts;
}

} // namespace quorvex::peer
