#include "service/peer/tcp_owner_table.hpp"

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

} // namespace

std::uint32_t ipv4_address_from_octets(std::array<std::uint8_t, 4> octets) {
    std::uint32_t address = 0;
    std::memcpy(&address, octets.data(), sizeof address);
    return address;
}

Result<std::vector<TcpOwnerRow>> read_tcp_owner_table(TcpTableSource& source) {
    std::uint32_t size_bytes = 0;
    for (std::uint32_t attempt = 0; attempt < TCP_TABLE_READ_ATTEMPTS; ++attempt) {
        std::vector<std::uint32_t> buffer((std::size_t{size_bytes} + 3) / 4, 0);
        const std::uint32_t status = source.fill(buffer, size_bytes);
        if (status == STATUS_INSUFFICIENT_BUFFER) continue;
        if (status != 0) return fail(source.error_of(status));

        // Never trust the entry count beyond the buffer we own.
        const std::span<const std::uint32_t> words(buffer);
        if (words.empty() || (words.size() - 1) / ROW_WORDS < words[0])
            return fail(Error::message("the TCP table is shorter than its entry count"));
        return decode_rows(words, words[0]);
    }
    return fail(Error::message("the TCP table kept growing"));
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
