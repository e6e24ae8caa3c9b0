#pragma once
// The system's IPv4 TCP table with owning process IDs, and the search for the client's own row
// of an accepted loopback connection. The table comes from a TcpTableSource (GetExtendedTcpTable
// in the product, a scripted table in tests), so the reading and matching are portable.

#include "common/error.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace quorvex::peer {

// One IPv4 endpoint. The address is the 32-bit value in network byte order exactly as the system
// stores it (its bytes in memory are the four octets in order); the port is in host order.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    friend bool operator==(const Ipv4Endpoint&, const Ipv4Endpoint&) = default;
};

// The address value whose bytes in memory are `octets` (127.0.0.1 is {127, 0, 0, 1}).
[[nodiscard]] std::uint32_t ipv4_address_from_octets(std::array<std::uint8_t, 4> octets);

// Both ends of an accepted connection: the peer (getpeername, the client's socket) and the local
// end (getsockname, the helper's loopback address and port).
struct ConnectionEndpoints {
    Ipv4Endpoint peer;
    Ipv4Endpoint local;
};

inline constexpr std::uint32_t STATUS_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t TCP_TABLE_READ_ATTEMPTS = 5;
inline constexpr std::uint32_t TCP_TABLE_SPARE_ROWS = 64;

// Where the table bytes come from.
class TcpTableSource {
public:
    virtual ~TcpTableSource() = default;
    // As GetExtendedTcpTable(buffer, &size_bytes, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0):
    // `buffer` holds at least `size_bytes` bytes and is empty while the size is 0; returns the
    // Win32 status (0, 122 with the needed size in `size_bytes`, or another error). The layout
    // is MIB_TCPTABLE_OWNER_PID.
    virtual std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) = 0;
    // The operating-system error for a failed status, with the system's text.
    [[nodiscard]] virtual Error error_of(std::uint32_t status) const = 0;
};

// MIB_TCP_STATE_LISTEN: the state of a listening socket's row.
inline constexpr std::uint32_t TCP_STATE_LISTEN = 2;

// One row of the table, decoded: its state, both ends and the owning process.
struct TcpOwnerRow {
    std::uint32_t state = 0;
    Ipv4Endpoint local;
    Ipv4Endpoint remote;
    std::uint32_t pid = 0;
    friend bool operator==(const TcpOwnerRow&, const TcpOwnerRow&) = default;
};

// One read of the table, as the system wrote it; valid until the reader reads again.
class TcpOwnerTable {
public:
    [[nodiscard]] std::uint32_t row_count() const { return words_[0]; }

    // The pid of the client's own socket: the first row whose local side is the peer endpoint and
    // whose remote side is the helper's local endpoint. Nothing when no row matches. The row's
    // state plays no part.
    [[nodiscard]] std::optional<std::uint32_t> owner_pid_of_client_row(const ConnectionEndpoints& endpoints) const;

    // Every row whose local port is `port`, decoded, in table order: a client's view of one
    // server port (its listeners and the server ends of its connections).
    [[nodiscard]] std::vector<TcpOwnerRow> rows_with_local_port(std::uint16_t port) const;

private:
    friend class TcpTableReader;
    explicit TcpOwnerTable(std::span<const std::uint32_t> words) : words_(words) {}
    std::span<const std::uint32_t> words_; // the entry count, then whole rows only
};

// Reads the table into a buffer it keeps for the next read: the buffer only grows and is never
// cleared, so a steady table costs one call and one copy. Not thread-safe: one reader per loop.
class TcpTableReader {
public:
    // Reads the whole table in at most five calls, the first with the buffer as it is. A failed
    // call, like a too-small buffer, takes one of the calls; only the last one's failure counts:
    // the call's error, or "the TCP table kept growing". Also fails when the entry count
    // overruns the buffer.
    [[nodiscard]] Result<TcpOwnerTable> read(TcpTableSource& source);

    // The size the next read passes to its first call.
    [[nodiscard]] std::uint32_t capacity_bytes() const { return capacity_bytes_; }

private:
    void grow_to(std::uint32_t bytes);

    std::unique_ptr<std::uint32_t[]> words_;
    std::uint32_t capacity_bytes_ = 0; // words_ holds this many bytes, rounded up to whole words
};

// reader.read(source), then the client's row.
[[nodiscard]] Result<std::optional<std::uint32_t>> owning_process_of_connection(TcpTableReader& reader,
                                                                                TcpTableSource& source,
                                                                                const ConnectionEndpoints& endpoints);

} // namespace quorvex::peer
