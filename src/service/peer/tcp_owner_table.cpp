#include "service/peer/tcp_owner_table.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quorvex::peer {
namespace {

// MIB_TCPTABLE_OWNER_PID: dwNumEntries, then rows of six DWORDs.
constexpr std::size_t ROW_WORDS = 6;
enum RowField : std::size_t { STATE, LOCAL_ADDR, LOCAL_PORT, REMOTE_ADDR, REMOTE_PORT, OWNING_PID };

// The port sits in the low 16 bits of its field in network byte order.
std::uint16_t port_of_field(std::uint32_t field) {
    const auto network = static_cast<std::uint16_t>(field & 0xFFFFu);
    return static_cast<std::uint16_t>((network >> 8) | (network << 8));
}

std::vector<TcpOwnerRow> decode_rows(std::span<const std::uint32_t> words, std::uint32_t count) {
    std::vector<TcpOwnerRow> rows;
    rows.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto row = words.subspan(1 + std::size_t{i} * ROW_WORDS, ROW_WORDS);
        rows.push_back({.pid = row[OWNING_PID],
                        .local_address = row[LOCAL_ADDR],
                        .local_port = port_of_field(row[LOCAL_PORT]),
                        .remote_address = row[REMOTE_ADDR],
                        .remote_port = port_of_field(row[REMOTE_PORT])});
    }
    return rows;
}

// The table grows between the call that reports its size and the next one: ask for room to
// spare, a quarter more and TCP_TABLE_SPARE_ROWS rows.
std::uint32_t with_room_to_grow(std::uint32_t reported_bytes) {
    const std::uint64_t wanted = std::uint64_t{reported_bytes} + reported_bytes / 4 + TCP_TABLE_SPARE_ROWS * ROW_WORDS * 4;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, UINT32_MAX));
}

} // namespace

std::uint32_t ipv4_address_from_octets(std::array<std::uint8_t, 4> octets) {
    std::uint32_t address = 0;
    std::memcpy(&address, octets.data(), sizeof address);
    return address;
}

Result<std::vector<TcpOwnerRow>> read_tcp_owner_table(TcpTableSource& source) {
    std::uint32_t request_bytes = 0;
    std::uint32_t status = 0;
    for (std::uint32_t attempt = 0; attempt < TCP_TABLE_READ_ATTEMPTS; ++attempt) {
        std::vector<std::uint32_t> buffer((std::size_t{request_bytes} + 3) / 4, 0);
        std::uint32_t size_bytes = request_bytes;
        status = source.fill(buffer, size_bytes);
        if (status == STATUS_INSUFFICIENT_BUFFER) {
            request_bytes = with_room_to_grow(size_bytes);
            continue;
        }
        // A table that changes during the read can fail the call outright (STATUS_UNSUCCESSFUL
        // on Windows, out of memory on Wine); calling again is the documented cure.
        if (status != 0) continue;

        // Never trust the entry count beyond the buffer we own.
        const std::span<const std::uint32_t> words(buffer);
        if (words.empty() || (words.size() - 1) / ROW_WORDS < words[0])
            return fail(Error::message("the TCP table is shorter than its entry count"));
        return decode_rows(words, words[0]);
    }
    if (status == STATUS_INSUFFICIENT_BUFFER) return fail(Error::message("the TCP table kept growing"));
    return fail(source.error_of(status));
}

std::optional<std::uint32_t> owner_pid_of_client_row(std::span<const TcpOwnerRow> rows,
                                                     const ConnectionEndpoints& endpoints) {
    for (const TcpOwnerRow& row : rows) {
        // Seen from the client: its local side is our peer, its remote side is us.
        if (row.local_port == endpoints.peer.port && row.local_address == endpoints.peer.address &&
            row.remote_port == endpoints.local.port && row.remote_address == endpoints.local.address)
            return row.pid;
    }
    return std::nullopt;
}

Result<std::optional<std::uint32_t>> owning_process_of_connection(TcpTableSource& source,
                                                                  const ConnectionEndpoints& endpoints) {
    auto rows = read_tcp_owner_table(source);
    if (!rows) return fail(std::move(rows.error()));
    return owner_pid_of_client_row(*rows, endpoints);
}

} // namespace quorvex::peer
