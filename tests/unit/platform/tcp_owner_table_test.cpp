#include "platform/tcp_owner_table.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quorvex::peer {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::array<std::uint8_t, 4> LOOPBACK{127, 0, 0, 1};
constexpr std::array<std::uint8_t, 4> ANY{0, 0, 0, 0};
constexpr std::uint16_t HELPER_PORT = 50123; // 0xC3CB
constexpr std::uint16_t CLIENT_PORT = 61000; // 0xEE48
constexpr std::uint32_t CLIENT_PID = 4100;
constexpr std::uint32_t ROW_BYTES = 24; // six DWORDs

struct RawRow {
    std::uint32_t state;
    std::array<std::uint8_t, 4> local_address;
    std::uint16_t local_port;
    std::array<std::uint8_t, 4> remote_address;
    std::uint16_t remote_port;
    std::uint32_t pid;
};

void put_dword(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}
// A port field: network byte order in the low 16 bits, the high bytes left as the system may
// leave them.
void put_port(Bytes& out, std::uint16_t port) {
    out.insert(out.end(), {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port), 0xAB, 0xCD});
}

// MIB_TCPTABLE_OWNER_PID as the system lays it out (little-endian DWORDs).
Bytes table_of(const std::vector<RawRow>& rows) {
    Bytes out;
    put_dword(out, static_cast<std::uint32_t>(rows.size()));
    for (const RawRow& row : rows) {
        put_dword(out, row.state);
        out.insert(out.end(), row.local_address.begin(), row.local_address.end());
        put_port(out, row.local_port);
        out.insert(out.end(), row.remote_address.begin(), row.remote_address.end());
        put_port(out, row.remote_port);
        put_dword(out, row.pid);
    }
    return out;
}

// Answers like GetExtendedTcpTable: each call sees the next table of the script (the last one
// repeats) and reports it too small unless the given size holds it. It leaves the bytes past the
// table as they were, as the system does.
class ScriptedTable final : public TcpTableSource {
public:
    explicit ScriptedTable(std::vector<Bytes> tables) : tables_(std::move(tables)) {}
    // The tables of the next read; the sizes start over.
    void rescript(std::vector<Bytes> tables) {
        tables_ = std::move(tables);
        sizes.clear();
    }

    std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) override {
        EXPECT_EQ(buffer.size(), (std::size_t{size_bytes} + 3) / 4);
        sizes.push_back(size_bytes);
        if (failures_left > 0) {
            --failures_left;
            return status;
        }
        const Bytes& table = tables_[std::min(sizes.size(), tables_.size()) - 1];
        const bool fits = size_bytes >= table.size();
        size_bytes = static_cast<std::uint32_t>(table.size());
        if (!fits) {
            return STATUS_INSUFFICIENT_BUFFER;
        }
        std::memcpy(buffer.data(), table.data(), table.size());
        return 0;
    }
    Error error_of(std::uint32_t code) const override { return Error::os(static_cast<std::int32_t>(code), "denied"); }

    std::vector<std::uint32_t> sizes; // the size passed in by each call
    std::uint32_t status = 0;         // a failure to report instead of the table ...
    int failures_left = 0;            // ... by this many calls

private:
    std::vector<Bytes> tables_;
};

const ConnectionEndpoints CONNECTION{{ipv4_address_from_octets(LOOPBACK), CLIENT_PORT},
                                     {ipv4_address_from_octets(LOOPBACK), HELPER_PORT}};
const RawRow CLIENT_ROW{5, LOOPBACK, CLIENT_PORT, LOOPBACK, HELPER_PORT, CLIENT_PID};
const RawRow HELPER_ROW{5, LOOPBACK, HELPER_PORT, LOOPBACK, CLIENT_PORT, 200};
const RawRow LISTENING_ROW{2, LOOPBACK, HELPER_PORT, ANY, 0, 200};

std::vector<RawRow> rows_with_padding(std::size_t padding, const std::vector<RawRow>& tail) {
    std::vector<RawRow> rows;
    for (std::size_t i = 0; i < padding; ++i) {
        rows.push_back({5, {10, 0, 0, 7}, 443, {10, 0, 0, 8}, 55000, 77});
    }
    rows.insert(rows.end(), tail.begin(), tail.end());
    return rows;
}

// What a reader asks for after a call reported a table of `reported` bytes: a quarter more, and
// TCP_TABLE_SPARE_ROWS rows to spare.
std::uint32_t with_spare_room(std::size_t reported) {
    return static_cast<std::uint32_t>(reported + reported / 4 + std::size_t{TCP_TABLE_SPARE_ROWS} * ROW_BYTES);
}

// Reads with a fresh reader, as the first check of a run does.
Result<std::optional<std::uint32_t>> owning_process_of_connection(TcpTableSource& source,
                                                                  const ConnectionEndpoints& endpoints) {
    TcpTableReader reader;
    return owning_process_of_connection(reader, source, endpoints);
}

TEST(TcpOwnerTable, MatchesAddressesAsStoredAndPortsInNetworkOrder) {
    const RawRow row{5, {192, 168, 1, 20}, 0x1234, {10, 0, 0, 1}, 443, 9};
    ScriptedTable table({table_of({row})});
    const ConnectionEndpoints endpoints{{ipv4_address_from_octets({192, 168, 1, 20}), 0x1234},
                                        {ipv4_address_from_octets({10, 0, 0, 1}), 443}};
    const auto found = owning_process_of_connection(table, endpoints);
    ASSERT_TRUE(found) << found.error().text();
    EXPECT_EQ(*found, 9u);
    // The first call of a fresh reader learns the size without a buffer; the second asks for
    // room to spare, since the table may grow in between.
    EXPECT_EQ(table.sizes, (std::vector<std::uint32_t>{0, with_spare_room(table_of({row}).size())}));

    // Byte-swapped ports and addresses are other endpoints.
    const ConnectionEndpoints swapped_ports{{endpoints.peer.address, 0x3412}, {endpoints.local.address, 0xBB01}};
    const ConnectionEndpoints swapped_address{{ipv4_address_from_octets({20, 1, 168, 192}), 0x1234}, endpoints.local};
    for (const auto& other : {swapped_ports, swapped_address}) {
        ScriptedTable again({table_of({row})});
        const auto none = owning_process_of_connection(again, other);
        ASSERT_TRUE(none);
        EXPECT_EQ(*none, std::nullopt);
    }
}

// The accept loop keeps one reader: a later read starts with the buffer it has, grows it only
// when the table outgrew it, and never sees rows left behind by an earlier, longer table.
TEST(TcpOwnerTable, ReaderKeepsItsBufferForTheNextRead) {
    TcpTableReader reader;
    ScriptedTable source({table_of(rows_with_padding(100, {CLIENT_ROW}))});
    ASSERT_TRUE(owning_process_of_connection(reader, source, CONNECTION));
    const std::uint32_t kept = reader.capacity_bytes();
    EXPECT_EQ(source.sizes, (std::vector<std::uint32_t>{0, kept}));

    // A shorter table: one call with the whole buffer; the client row of the longer table,
    // still in the buffer's later words, is not part of it.
    source.rescript({table_of({HELPER_ROW})});
    const auto shorter = owning_process_of_connection(reader, source, CONNECTION);
    ASSERT_TRUE(shorter);
    EXPECT_EQ(*shorter, std::nullopt);
    EXPECT_EQ(source.sizes, (std::vector<std::uint32_t>{kept}));
    EXPECT_EQ(reader.capacity_bytes(), kept);

    // A table the buffer no longer holds: it grows, with room to spare, and stays grown.
    const Bytes longer = table_of(rows_with_padding(200, {CLIENT_ROW}));
    const auto longer_size = static_cast<std::uint32_t>(longer.size());
    source.rescript({longer});
    const auto found = owning_process_of_connection(reader, source, CONNECTION);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, CLIENT_PID);
    EXPECT_EQ(source.sizes, (std::vector<std::uint32_t>{kept, with_spare_room(longer_size)}));
    source.rescript({table_of({CLIENT_ROW})});
    ASSERT_TRUE(owning_process_of_connection(reader, source, CONNECTION));
    EXPECT_EQ(source.sizes, (std::vector<std::uint32_t>{with_spare_room(longer_size)}));
}

TEST(TcpOwnerTable, TableGrowingFourTimesStillCompletesButFiveTimesFails) {
    // Doubling each time outruns the spare room asked for.
    std::vector<Bytes> growing;
    for (std::size_t n = 100; n <= 1600; n *= 2) {
        growing.push_back(table_of(rows_with_padding(n, {CLIENT_ROW})));
    }

    ScriptedTable settles({growing.begin(), growing.begin() + 4});
    const auto found = owning_process_of_connection(settles, CONNECTION);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, CLIENT_PID);
    EXPECT_EQ(settles.sizes.size(), TCP_TABLE_READ_ATTEMPTS);

    ScriptedTable keeps_growing(growing);
    const auto failed = owning_process_of_connection(keeps_growing, CONNECTION);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().text(), "the TCP table kept growing");
    EXPECT_EQ(keeps_growing.sizes.size(), TCP_TABLE_READ_ATTEMPTS);
}

TEST(TcpOwnerTable, OddSizeIsRoundedUpToWholeWords) {
    Bytes table = table_of({CLIENT_ROW});
    table.resize(table.size() + 2); // a size the system may report; the buffer must still hold it
    ScriptedTable source({table});
    ASSERT_TRUE(owning_process_of_connection(source, CONNECTION));
    EXPECT_EQ(source.sizes.back(), with_spare_room(table.size()));
}

// A table that changes during the read can make the call fail outright; another call cures it.
TEST(TcpOwnerTable, FailedCallsTakeAnAttemptAndOnlyTheLastCounts) {
    ScriptedTable recovers({table_of({CLIENT_ROW})});
    recovers.status = 8;        // out of memory, as Wine reports a table that grows under it
    recovers.failures_left = 3; // then the size query, then the read: five calls in all
    const auto found = owning_process_of_connection(recovers, CONNECTION);
    ASSERT_TRUE(found) << found.error().text();
    EXPECT_EQ(*found, CLIENT_PID);
    EXPECT_EQ(recovers.sizes.size(), TCP_TABLE_READ_ATTEMPTS);

    ScriptedTable keeps_failing({table_of({CLIENT_ROW})});
    keeps_failing.status = 87;
    keeps_failing.failures_left = 5;
    const auto result = owning_process_of_connection(keeps_failing, CONNECTION);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().os_code(), 87);
    EXPECT_EQ(keeps_failing.sizes.size(), TCP_TABLE_READ_ATTEMPTS);
}

TEST(TcpOwnerTable, SpareRoomAbsorbsGrowthBetweenCalls) {
    // Rows added between the size query and the fill still fit: two calls do.
    ScriptedTable source(
        {table_of(rows_with_padding(100, {CLIENT_ROW})), table_of(rows_with_padding(150, {CLIENT_ROW}))});
    const auto found = owning_process_of_connection(source, CONNECTION);
    ASSERT_TRUE(found) << found.error().text();
    EXPECT_EQ(*found, CLIENT_PID);
    EXPECT_EQ(source.sizes.size(), 2u);
}

TEST(TcpOwnerTable, EntryCountBeyondTheBufferIsRefused) {
    Bytes table = table_of({CLIENT_ROW});
    table[1] = 4; // claims 1025 rows: more than the buffer holds, spare room included
    ScriptedTable source({table});
    EXPECT_FALSE(owning_process_of_connection(source, CONNECTION));
}

TEST(TcpOwnerTable, OnlyTheClientsOwnRowMatches) {
    struct Case {
        const char* name;
        std::vector<RawRow> rows;
        std::optional<std::uint32_t> pid;
    };
    const RawRow other_client{5, LOOPBACK, CLIENT_PORT + 1, LOOPBACK, HELPER_PORT, 4200};
    const RawRow elsewhere{5, {127, 0, 0, 2}, CLIENT_PORT, LOOPBACK, HELPER_PORT, 4300};
    const Case cases[] = {
        {"empty table", {}, std::nullopt},
        {"listening row only", {LISTENING_ROW}, std::nullopt},
        {"helper's own accepted socket only", {HELPER_ROW}, std::nullopt},
        {"helper row first", {LISTENING_ROW, HELPER_ROW, CLIENT_ROW}, CLIENT_PID},
        {"another client and another address", {other_client, elsewhere}, std::nullopt},
        {"first match wins", {CLIENT_ROW, RawRow{5, LOOPBACK, CLIENT_PORT, LOOPBACK, HELPER_PORT, 1}}, CLIENT_PID},
    };
    for (const Case& c : cases) {
        ScriptedTable source({table_of(c.rows)});
        const auto found = owning_process_of_connection(source, CONNECTION);
        ASSERT_TRUE(found) << c.name;
        EXPECT_EQ(*found, c.pid) << c.name;
    }
}

// The scan tests rows a block at a time: the client's row is found wherever it stands, in a
// block or in the rows after the last whole block, even beside rows that share its local port
// and differ only in an address.
TEST(TcpOwnerTable, ClientRowIsFoundAtEveryPositionBesideLookalikes) {
    const RawRow lookalike{5, {127, 0, 0, 2}, CLIENT_PORT, LOOPBACK, HELPER_PORT, 4300};
    const RawRow stranger{5, {10, 0, 0, 7}, 443, {10, 0, 0, 8}, 55000, 77};
    for (std::size_t count = 1; count <= 9; ++count) {
        for (std::size_t position = 0; position < count; ++position) {
            std::vector<RawRow> rows(count, stranger);
            for (std::size_t i = 0; i < count; i += 2) {
                rows[i] = lookalike;
            }
            ScriptedTable lookalikes_only({table_of(rows)});
            const auto without_client = owning_process_of_connection(lookalikes_only, CONNECTION);
            ASSERT_TRUE(without_client);
            EXPECT_EQ(*without_client, std::nullopt) << count << " rows";
            rows[position] = CLIENT_ROW;
            ScriptedTable source({table_of(rows)});
            const auto found = owning_process_of_connection(source, CONNECTION);
            ASSERT_TRUE(found);
            EXPECT_EQ(*found, CLIENT_PID) << "row " << position << " of " << count;
        }
    }
}

// A client's view of the helper's port: the listener and the server ends of connections, with
// the ports decoded to host order and the high bytes of the port fields ignored.
TEST(TcpOwnerTable, RowsWithLocalPortDecodesTheServerSide) {
    const RawRow byte_swapped_port{2, LOOPBACK, 0xCBC3, ANY, 0, 66};
    ScriptedTable source({table_of(rows_with_padding(5, {CLIENT_ROW, LISTENING_ROW, byte_swapped_port, HELPER_ROW}))});
    TcpTableReader reader;
    const auto table = reader.read(source);
    ASSERT_TRUE(table) << table.error().text();
    const Ipv4Endpoint helper{ipv4_address_from_octets(LOOPBACK), HELPER_PORT};
    EXPECT_EQ(table->rows_with_local_port(HELPER_PORT),
              (std::vector<TcpOwnerRow>{{TCP_STATE_LISTEN, helper, {ipv4_address_from_octets(ANY), 0}, 200},
                                        {5, helper, {ipv4_address_from_octets(LOOPBACK), CLIENT_PORT}, 200}}));
    EXPECT_TRUE(table->rows_with_local_port(1).empty());
}

} // namespace
} // namespace quorvex::peer
