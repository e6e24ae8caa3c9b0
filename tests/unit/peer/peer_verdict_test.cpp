#include "service/peer/peer_verdict.hpp"

#include <gtest/gtest.h>

#include <set>

namespace quorvex::peer {
namespace {

constexpr std::string_view OWNER = "S-1-5-21-7-8-9-500";

TEST(SidMatchesOwner, FoldsAsciiCaseOnlyAndComparesLength) {
    const struct {
        std::string_view account;
        std::string_view owner;
        bool matches;
    } cases[] = {
        {"S-1-5-21-7-8-9-500", OWNER, true},
        {"s-1-5-21-7-8-9-500", OWNER, true},
        {"S-1-5-21-7-8-9-50", OWNER, false},   // a prefix
        {"S-1-5-21-7-8-9-5000", OWNER, false}, // longer
        {"S-1-5-18", OWNER, false},
        {"S-1-5-21-\xC3\x84", "S-1-5-21-\xC3\xA4", false}, // Ä and ä: no folding beyond ASCII
        {"S-1-5-21-K", "S-1-5-21-\xE2\x84\xAA", false},    // K and the Kelvin sign
        {"", OWNER, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sid_matches_owner(c.account, c.owner), c.matches) << c.account;
    }
}

PeerProcess owner_at(std::uint32_t integrity_rid, bool app_container = false, bool restricted = false) {
    return {std::string(OWNER), TokenStanding{integrity_rid, app_container, restricted}};
}

TEST(VerdictFor, RefusesEverySandboxOfTheOwnerAndAdmitsMediumAndAbove) {
    const struct {
        const char* name;
        PeerProcess process;
        PeerVerdict verdict;
    } cases[] = {
        {"untrusted", owner_at(0x0000), PeerVerdict::below_medium_integrity},
        {"low", owner_at(0x1000), PeerVerdict::below_medium_integrity},
        {"just below medium", owner_at(0x1FFF), PeerVerdict::below_medium_integrity},
        {"medium", owner_at(0x2000), PeerVerdict::admitted},
        {"medium plus (UIAccess)", owner_at(0x2100), PeerVerdict::admitted},
        {"high", owner_at(0x3000), PeerVerdict::admitted},
        {"system", owner_at(0x4000), PeerVerdict::admitted},
        {"AppContainer", owner_at(0x1000, true), PeerVerdict::below_medium_integrity},
        {"AppContainer at medium", owner_at(0x2000, true), PeerVerdict::app_container},
        {"restricted", owner_at(0x2000, false, true), PeerVerdict::restricted_token},
        {"restricted at high", owner_at(0x3000, false, true), PeerVerdict::restricted_token},
        {"standing unreadable",
         {std::string(OWNER), fail(Error::os(1, "Incorrect function."))},
         PeerVerdict::standing_unreadable},
        // Another account is refused as such, whatever its sandbox.
        {"other account at high", {"S-1-5-18", TokenStanding{0x4000, false, false}}, PeerVerdict::foreign_account},
        {"other account, unreadable", {"S-1-5-18", fail(Error::message("x"))}, PeerVerdict::foreign_account},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(verdict_for(c.process, OWNER), c.verdict) << c.name;
    }
}

TEST(RefusalLine, NamesEachReasonInALineOfItsOwn) {
    EXPECT_TRUE(refusal_line(PeerVerdict::admitted).empty());
    EXPECT_EQ(refusal_line(PeerVerdict::foreign_account),
              "Helper refused a connection from an account other than its owner");
    std::set<std::string_view> lines;
    for (const auto verdict :
         {PeerVerdict::foreign_account, PeerVerdict::below_medium_integrity, PeerVerdict::app_container,
          PeerVerdict::restricted_token, PeerVerdict::standing_unreadable}) {
        EXPECT_TRUE(refusal_line(verdict).starts_with("Helper refused a connection from ")) << refusal_line(verdict);
        lines.insert(refusal_line(verdict));
    }
    EXPECT_EQ(lines.size(), PEER_VERDICT_COUNT - 1);
}

} // namespace
} // namespace quorvex::peer
