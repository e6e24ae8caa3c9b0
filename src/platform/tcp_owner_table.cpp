#include "platform/tcp_owner_table.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quorvex::peer {
namespace {

// MIB_TCPTABLE_OWNER_PID: dwNumEntries, then rows of six DWORDs.
constexpr std::size_t ROW_WORDS = 6;
enum RowField : std::size_t { STATE, LOCAL_ADDR, LOCAL_PORT, REMOTE_ADDR, REMOTE_PORT, OWNING_PID };

// A port field holds the port in network byte order in its low 16 bits; the high bits are
// whatever the system left there.
std::uint32_t port_field_key(std::uint16_t port) { return static_cast<std::uint16_t>((port >> 8) | (port << 8)); }

// The table grows between the call that reports its size and the next one: ask for room to
// spare, a quarter more and TCP_TABLE_SPARE_ROWS rows.
std::uint32_t with_room_to_grow(std::uint32_t reported_bytes) {
    const std::uint64_t wanted =
        std::uint64_t{reported_bytes} + reported_bytes / 4 + TCP_TABLE_SPARE_ROWS * ROW_WORDS * 4;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, UINT32_MAX));
}

} // namespace

std::uint32_t ipv4_address_from_octets(std::array<std::uint8_t, 4> octets) {
    std::uint32_t address = 0;
    std::memcpy(&address, octets.data(), sizeof address);
    return address;
}

std::optional<std::uint32_t> TcpOwnerTable::owner_pid_of_client_row(const ConnectionEndpoints& endpoints) const {
    // Seen from the client: its local side is our peer, its remote side is us. The words are
    // compared as stored, without decoding the rows.
    const std::uint32_t local_port = port_field_key(endpoints.peer.port);
    const std::uint32_t remote_port = port_field_key(endpoints.local.port);
    // 1 or 0, so that the tests of a block of rows combine without branches.
    const auto local_port_in = [&](const std::uint32_t* row) -> unsigned {
        return (row[LOCAL_PORT] & 0xFFFFu) == local_port ? 1u : 0u;
    };
    const auto is_client_row = [&](const std::uint32_t* row) {
        return local_port_in(row) != 0 && (row[REMOTE_PORT] & 0xFFFFu) == remote_port &&
               row[LOCAL_ADDR] == endpoints.peer.address && row[REMOTE_ADDR] == endpoints.local.address;
    };
    // Almost every row differs in its local port. A block of rows is tested with one branch, so
    // the loop runs at the speed of the loads rather than of the branches; a block with a
    // candidate is then looked at row by row.
    constexpr std::size_t BLOCK_ROWS = 4;
    constexpr std::size_t BLOCK_WORDS = BLOCK_ROWS * ROW_WORDS;
    const std::size_t rows = words_[0];
    const std::uint32_t* row = words_.data() + 1;
    const std::uint32_t* const blocks_end = row + rows / BLOCK_ROWS * BLOCK_WORDS;
    for (; row != blocks_end; row += BLOCK_WORDS) {
        const unsigned candidate = local_port_in(row) | local_port_in(row + ROW_WORDS) |
                                   local_port_in(row + 2 * ROW_WORDS) | local_port_in(row + 3 * ROW_WORDS);
        if (candidate == 0) {
            continue;
        }
        for (const std::uint32_t* in_block = row; in_block != row + BLOCK_WORDS; in_block += ROW_WORDS) {
            if (is_client_row(in_block)) {
                return in_block[OWNING_PID];
            }
        }
    }
    for (const std::uint32_t* const end = words_.data() + 1 + rows * ROW_WORDS; row != end; row += ROW_WORDS) {
        if (is_client_row(row)) {
            return row[OWNING_PID];
        }
    }
    return std::nullopt;
}

std::vector<TcpOwnerRow> TcpOwnerTable::rows_with_local_port(std::uint16_t port) const {
    const std::uint32_t key = port_field_key(port);
    const auto host_port = [](std::uint32_t field) {
        return static_cast<std::uint16_t>(port_field_key(static_cast<std::uint16_t>(field)));
    };
    std::vector<TcpOwnerRow> rows;
    const std::uint32_t* const end = words_.data() + 1 + std::size_t{words_[0]} * ROW_WORDS;
    for (const std::uint32_t* row = words_.data() + 1; row != end; row += ROW_WORDS) {
        if ((row[LOCAL_PORT] & 0xFFFFu) != key) {
            continue;
        }
        rows.push_back({.state = row[STATE],
                        .local = {.address = row[LOCAL_ADDR], .port = host_port(row[LOCAL_PORT])},
                        .remote = {.address = row[REMOTE_ADDR], .port = host_port(row[REMOTE_PORT])},
                        .pid = row[OWNING_PID]});
    }
    return rows;
}

void TcpTableReader::grow_to(std::uint32_t bytes) {
    if (bytes <= capacity_bytes_) {
        return;
    }
    // Left uninitialised: the system writes what it reports, and the entry count is checked.
    words_ = std::make_unique_for_overwrite<std::uint32_t[]>((std::size_t{bytes} + 3) / 4);
    capacity_bytes_ = bytes;
}

Result<TcpOwnerTable> TcpTableReader::read(TcpTableSource& source) {
    std::uint32_t status = 0;
    for (std::uint32_t attempt = 0; attempt < TCP_TABLE_READ_ATTEMPTS; ++attempt) {
        const std::span<std::uint32_t> buffer(words_.get(), (std::size_t{capacity_bytes_} + 3) / 4);
        std::uint32_t size_bytes = capacity_bytes_;
        status = source.fill(buffer, size_bytes);
        if (status == STATUS_INSUFFICIENT_BUFFER) {
            grow_to(with_room_to_grow(size_bytes));
            continue;
        }
        // A table that changes during the read can fail the call outright (STATUS_UNSUCCESSFUL
        // on Windows, out of memory on Wine); calling again is the documented cure.
        if (status != 0) {
            continue;
        }

        // Never trust the entry count beyond the buffer we own.
        if (buffer.empty() || (buffer.size() - 1) / ROW_WORDS < buffer[0]) {
            return fail(Error::message("the TCP table is shorter than its entry count"));
        }
        return TcpOwnerTable(buffer.first(1 + std::size_t{buffer[0]} * ROW_WORDS));
    }
    if (status == STATUS_INSUFFICIENT_BUFFER) {
        return fail(Error::message("the TCP table kept growing"));
    }
    return fail(source.error_of(status));
}

Result<std::optional<std::uint32_t>> owning_process_of_connection(TcpTableReader& reader, TcpTableSource& source,
                                                                  const ConnectionEndpoints& endpoints) {
    auto table = reader.read(source);
    if (!table) {
        return fail(std::move(table.error()));
    }
    return table->owner_pid_of_client_row(endpoints);
}

} // namespace quorvex::peer
