#include "service/peer/peer_check.hpp"

#include <algorithm>

namespace quorvex::peer {
namespace {

char fold_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

bool sid_matches_owner(std::string_view account_sid, std::string_view owner_sid) {
    return std::ranges::equal(account_sid, owner_sid,
                              [](char a, char b) { return fold_ascii(a) == fold_ascii(b); });
}

bool is_owner_connection(const ConnectionEndpoints& endpoints, std::string_view owner_sid,
                         TcpTableSource& table, const AccountOfProcess& account_of) {
    const auto pid = owning_process_of_connection(table, endpoints);
    // PID 0 is what the system shows for a socket it cannot attribute: never an owner.
    if (!pid || !*pid || **pid == 0) return false;
    const auto account = account_of(**pid);
    return account && sid_matches_owner(*account, owner_sid);
}

} // namespace quorvex::peer
