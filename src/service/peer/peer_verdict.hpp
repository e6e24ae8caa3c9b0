#pragma once
// Whether a process of the owner's account may drive the service. The account alone is not
// enough: a sandboxed process of the owner (low integrity, AppContainer, restricted token) must
// not reach a LocalSystem service, or the sandbox is escaped through it. What a token says is
// read by the platform; the decision and the refusal lines are portable.

#include "common/error.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex::peer {

// SECURITY_MANDATORY_MEDIUM_RID: the desktop application runs at this level or above.
inline constexpr std::uint32_t MEDIUM_INTEGRITY_RID = 0x2000;

// What a process's primary token says about its sandbox.
struct TokenStanding {
    std::uint32_t integrity_rid = 0; // the last sub-authority of its mandatory label
    bool app_container = false;
    bool restricted = false; // it holds restricting SIDs
};

// What the peer check reads from the token of the client's process. The account is read first:
// the standing may fail on its own, and then only the owner's process needs it.
struct PeerProcess {
    std::string account_sid; // S-1-... text
    Result<TokenStanding> standing;
};

enum class PeerVerdict : std::uint8_t {
    admitted,
    foreign_account, // also every failure before the account is known
    below_medium_integrity,
    app_container,
    restricted_token,
    standing_unreadable,
};
inline constexpr std::size_t PEER_VERDICT_COUNT = 6;

// Same length and equal bytes once ASCII A-Z are folded to a-z; no other folding.
[[nodiscard]] bool sid_matches_owner(std::string_view account_sid, std::string_view owner_sid);

// The account first, so another account's sandbox reads as another account.
[[nodiscard]] PeerVerdict verdict_for(const PeerProcess& process, std::string_view owner_sid);

// The log line for a refusal; empty for admitted.
[[nodiscard]] std::string_view refusal_line(PeerVerdict verdict);

} // namespace quorvex::peer
