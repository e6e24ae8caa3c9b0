#include "service/peer/peer_check.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace quorvex::peer {
namespace {

constexpr std::string_view OWNER = "S-1-5-21-7-8-9-500";

// A table source holding one connection's client row.
class OneRowTable final : public TcpTableSource {
public:
    explicit OneRowTable(std::uint32_t pid) : words_{1, 5, 0x0100007F, 0x48EE, 0x0100007F, 0xCBC3, pid} {}
    std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) override {
        const auto needed = static_cast<std::uint32_t>(sizeof words_);
        if (status) {
            return status;
        }
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

// A process of `sid`, unsandboxed at `integrity_rid`.
Result<PeerProcess> owner_process(std::string sid = std::string(OWNER),
                                  std::uint32_t integrity_rid = MEDIUM_INTEGRITY_RID) {
    return PeerProcess{std::move(sid), TokenStanding{integrity_rid, false, false}};
}

TEST(VerdictOfConnection, AdmitsOnlyAFoundProcessOfTheOwner) {
    std::vector<std::uint32_t> looked_up;
    const auto process_of = [&](const Result<PeerProcess>& process) {
        return PeerProcessOf([&looked_up, process](std::uint32_t pid) -> Result<PeerProcess> {
            looked_up.push_back(pid);
            return process;
        });
    };
    const struct {
        const char* name;
        std::uint32_t pid;
        std::uint32_t table_status;
        PeerProcessOf lookup;
        PeerVerdict verdict;
        std::vector<std::uint32_t> looked_up;
    } cases[] = {
        {"owner", 4100, 0, process_of(owner_process()), PeerVerdict::admitted, {4100}},
        {"owner in small letters",
         4100,
         0,
         process_of(owner_process("s-1-5-21-7-8-9-500")),
         PeerVerdict::admitted,
         {4100}},
        {"other account", 4100, 0, process_of(owner_process("S-1-5-18")), PeerVerdict::foreign_account, {4100}},
        {"owner at low integrity",
         4100,
         0,
         process_of(owner_process(std::string(OWNER), 0x1000)),
         PeerVerdict::below_medium_integrity,
         {4100}},
        {"lookup fails", 4100, 0, process_of(fail(Error::os(5, "denied"))), PeerVerdict::foreign_account, {4100}},
        {"pid 0", 0, 0, process_of(owner_process()), PeerVerdict::foreign_account, {}},
        {"table fails", 4100, 5, process_of(owner_process()), PeerVerdict::foreign_account, {}},
    };
    for (const auto& c : cases) {
        looked_up.clear();
        OneRowTable table(c.pid);
        table.status = c.table_status;
        TcpTableReader reader;
        EXPECT_EQ(verdict_of_connection(CONNECTION, OWNER, reader, table, c.lookup), c.verdict) << c.name;
        EXPECT_EQ(looked_up, c.looked_up) << c.name;
    }

    OneRowTable table(4100);
    TcpTableReader reader;
    const ConnectionEndpoints other_port{CONNECTION.peer, {CONNECTION.local.address, 50124}};
    EXPECT_EQ(verdict_of_connection(other_port, OWNER, reader, table, process_of(owner_process())),
              PeerVerdict::foreign_account);
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

TEST(VerdictsOfConnections, AnswersEachConnectionInOrderFromOneTableRead) {
    const auto at_port = [](std::uint16_t port) {
        return ConnectionEndpoints{{CONNECTION.peer.address, port}, CONNECTION.local};
    };
    const std::vector<ConnectionEndpoints> batch{at_port(61001), at_port(61000), at_port(61002), at_port(61000)};
    CountingTable table;
    TcpTableReader reader;
    int lookups = 0;
    const PeerProcessOf owner = [&lookups](std::uint32_t) -> Result<PeerProcess> {
        ++lookups;
        return owner_process();
    };
    // pid 0, the owner's process, no row, the owner's process again.
    constexpr auto ADMITTED = PeerVerdict::admitted;
    constexpr auto REFUSED = PeerVerdict::foreign_account;
    EXPECT_EQ(verdicts_of_connections(batch, OWNER, reader, table, owner),
              (std::vector<PeerVerdict>{REFUSED, ADMITTED, REFUSED, ADMITTED}));
    EXPECT_EQ(table.reads, 1);
    EXPECT_EQ(lookups, 2);

    EXPECT_TRUE(verdicts_of_connections({}, OWNER, reader, table, owner).empty());
    EXPECT_EQ(table.reads, 1) << "nothing to check, nothing read";
}

} // namespace
} // namespace quorvex::peer
