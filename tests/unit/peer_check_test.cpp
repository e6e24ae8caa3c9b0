#include "service/peer/peer_check.hpp"

#include <gtest/gtest.h>

#include <cstring>

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
    for (const auto& c : cases) EXPECT_EQ(sid_matches_owner(c.account, c.owner), c.matches) << c.account;
}

// A table source holding one connection's client row.
class OneRowTable final : public TcpTableSource {
public:
    explicit OneRowTable(std::uint32_t pid) : words_{1, 5, 0x0100007F, 0x48EE, 0x0100007F, 0xCBC3, pid} {}
    std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) override {
        const auto needed = static_cast<std::uint32_t>(sizeof words_);
        if (status) return status;
        if (size_bytes < needed) {
            size_bytes = needed;
            return STATUS_INSUFFICIENT_BUFFER;
        }
        std::memcpy(buffer.data(), words_, needed);
        return 0;
    }
    Error error_of(std::uint32_t code) const override { return Error::os(static_cast<std::int32_t>(code), "failed"); }
    std::uint32_t status = 0;

private:
    std::uint32_t words_[7];
};

// 127.0.0.1:61000 -> 127.0.0.1:50123, as the table above holds it on a little-endian machine.
const ConnectionEndpoints CONNECTION{{ipv4_address_from_octets({127, 0, 0, 1}), 61000},
                                     {ipv4_address_from_octets({127, 0, 0, 1}), 50123}};

TEST(IsOwnerConnection, AcceptsOnlyAFoundProcessOfTheOwner) {
    std::vector<std::uint32_t> looked_up;
    const auto account_of = [&](const std::string& sid, std::optional<std::int32_t> error = std::nullopt) {
        return AccountOfProcess([&looked_up, sid, error](std::uint32_t pid) -> Result<std::string> {
            looked_up.push_back(pid);
            if (error) return fail(Error::os(*error, "denied"));
            return sid;
        });
    };
    const struct {
        const char* name;
        std::uint32_t pid;
        std::uint32_t table_status;
        AccountOfProcess lookup;
        bool accepted;
        std::vector<std::uint32_t> looked_up;
    } cases[] = {
        {"owner", 4100, 0, account_of(std::string(OWNER)), true, {4100}},
        {"owner in small letters", 4100, 0, account_of("s-1-5-21-7-8-9-500"), true, {4100}},
        {"other account", 4100, 0, account_of("S-1-5-18"), false, {4100}},
        {"lookup fails", 4100, 0, account_of(std::string(OWNER), 5), false, {4100}},
        {"pid 0", 0, 0, account_of(std::string(OWNER)), false, {}},
        {"table fails", 4100, 5, account_of(std::string(OWNER)), false, {}},
    };
    for (const auto& c : cases) {
        looked_up.clear();
        OneRowTable table(c.pid);
        table.status = c.table_status;
        TcpTableReader reader;
        EXPECT_EQ(is_owner_connection(CONNECTION, OWNER, reader, table, c.lookup), c.accepted) << c.name;
        EXPECT_EQ(looked_up, c.looked_up) << c.name;
    }

    OneRowTable table(4100);
    TcpTableReader reader;
    const ConnectionEndpoints other_port{CONNECTION.peer, {CONNECTION.local.address, 50124}};
    EXPECT_FALSE(is_owner_connection(other_port, OWNER, reader, table, account_of(std::string(OWNER))));
}

// Counts the table reads: a batch of connections must cost one successful read, not one each.
class CountingTable final : public TcpTableSource {
public:
    // Two client rows: port 61000 of process 4100 and port 61001 of process 0.
    std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) override {
        static constexpr std::uint32_t WORDS[] = {2, 5,          0x0100007F, 0x48EE,     0x0100007F, 0xCBC3, 4100,
                                                  5, 0x0100007F, 0x49EE,     0x0100007F, 0xCBC3,     0};
        if (size_bytes < sizeof WORDS) {
            size_bytes = sizeof WORDS;
            return STATUS_INSUFFICIENT_BUFFER;
        }
        ++reads;
        std::memcpy(buffer.data(), WORDS, sizeof WORDS);
        return 0;
    }
    Error error_of(std::uint32_t code) const override { return Error::os(static_cast<std::int32_t>(code), "failed"); }
    int reads = 0;
};

TEST(AreOwnerConnections, AnswersEachConnectionInOrderFromOneTableRead) {
    const auto at_port = [](std::uint16_t port) {
        return ConnectionEndpoints{{CONNECTION.peer.address, port}, CONNECTION.local};
    };
    const std::vector<ConnectionEndpoints> batch{at_port(61001), at_port(61000), at_port(61002), at_port(61000)};
    CountingTable table;
    TcpTableReader reader;
    int lookups = 0;
    const AccountOfProcess owner = [&lookups](std::uint32_t) -> Result<std::string> {
        ++lookups;
        return std::string(OWNER);
    };
    // pid 0, the owner's process, no row, the owner's process again.
    EXPECT_EQ(are_owner_connections(batch, OWNER, reader, table, owner), (std::vector<bool>{false, true, false, true}));
    EXPECT_EQ(table.reads, 1);
    EXPECT_EQ(lookups, 2);

    EXPECT_TRUE(are_owner_connections({}, OWNER, reader, table, owner).empty());
    EXPECT_EQ(table.reads, 1) << "nothing to check, nothing read";
}

} // namespace
} // namespace quorvex::peer
