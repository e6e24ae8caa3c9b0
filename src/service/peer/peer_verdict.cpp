#include "service/peer/peer_verdict.hpp"

#include "common/ascii_case.hpp"

namespace quorvex::peer {

bool sid_matches_owner(std::string_view account_sid, std::string_view owner_sid) {
    return equals_ascii_nocase(account_sid, owner_sid);
}

PeerVerdict verdict_for(const PeerProcess& process, std::string_view owner_sid) {
    if (!sid_matches_owner(process.account_sid, owner_sid)) {
        return PeerVerdict::foreign_account;
    }
    if (!process.standing) {
        return PeerVerdict::standing_unreadable;
    }
    // UIAccess (medium plus) and elevated processes lie above medium and are admitted.
    if (process.standing->integrity_rid < MEDIUM_INTEGRITY_RID) {
        return PeerVerdict::below_medium_integrity;
    }
    if (process.standing->app_container) {
        return PeerVerdict::app_container;
    }
    if (process.standing->restricted) {
        return PeerVerdict::restricted_token;
    }
    return PeerVerdict::admitted;
}

std::string_view refusal_line(PeerVerdict verdict) {
    switch (verdict) {
    case PeerVerdict::admitted:
        return {};
    case PeerVerdict::foreign_account:
        return "Helper refused a connection from an account other than its owner";
    case PeerVerdict::below_medium_integrity:
        return "Helper refused a connection from a process of its owner below medium integrity";
    case PeerVerdict::app_container:
        return "Helper refused a connection from an AppContainer process of its owner";
    case PeerVerdict::restricted_token:
        return "Helper refused a connection from a process of its owner with a restricted token";
    case PeerVerdict::standing_unreadable:
        return "Helper refused a connection from a process of its owner whose integrity or sandbox could not be read";
    }
    return "Helper refused a connection";
}

} // namespace quorvex::peer
