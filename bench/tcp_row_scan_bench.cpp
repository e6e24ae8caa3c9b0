// The peer check's TCP row scan: a TcpTableReader's read of a MIB_TCPTABLE_OWNER_PID table and
// the search for the client's row, over large synthetic tables whose matching row is the last
// one (the worst case: every row compared). The reader is kept across scans, as the accept loop
// keeps it.

#include "platform/tcp_owner_table.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace quorvex::peer;

constexpr std::uint32_t LOOPBACK = 0x0100007F; // 127.0.0.1 in network byte order, as stored
constexpr std::uint16_t HELPER_PORT = 50123;

std::uint32_t port_field(std::uint16_t port) {
    return static_cast<std::uint32_t>(static_cast<std::uint16_t>((port >> 8) | (port << 8)));
}

// A table of `rows` established loopback connections, each client port once; the client of the
// benchmark's connection is the last row.
class SyntheticTable final : public TcpTableSource {
public:
    explicit SyntheticTable(std::uint32_t rows) : words_(1 + std::size_t{rows} * 6) {
        words_[0] = rows;
        for (std::uint32_t i = 0; i < rows; ++i) {
            std::uint32_t* row = &words_[1 + std::size_t{i} * 6];
            row[0] = 5; // MIB_TCP_STATE_ESTAB
            row[1] = LOOPBACK;
            row[2] = port_field(static_cast<std::uint16_t>(1024 + i % 60000));
            row[3] = LOOPBACK;
            row[4] = port_field(i + 1 == rows ? HELPER_PORT : static_cast<std::uint16_t>(HELPER_PORT + 1));
            row[5] = 1000 + i;
        }
    }

    std::uint32_t fill(std::span<std::uint32_t> buffer, std::uint32_t& size_bytes) override {
        const auto needed = static_cast<std::uint32_t>(words_.size() * 4);
        if (size_bytes < needed || buffer.size() < words_.size() || buffer.empty()) {
            size_bytes = needed;
            return STATUS_INSUFFICIENT_BUFFER;
        }
        std::memcpy(buffer.data(), words_.data(), needed);
        return 0;
    }
    [[nodiscard]] quorvex::Error error_of(std::uint32_t status) const override {
        return quorvex::Error::os(static_cast<int>(status), "synthetic");
    }

    [[nodiscard]] ConnectionEndpoints last_client() const {
        const std::uint32_t rows = words_[0];
        return {.peer = {LOOPBACK, static_cast<std::uint16_t>(1024 + (rows - 1) % 60000)},
                .local = {LOOPBACK, HELPER_PORT}};
    }

private:
    std::vector<std::uint32_t> words_;
};

void tcp_row_scan(benchmark::State& state) {
    SyntheticTable table(static_cast<std::uint32_t>(state.range(0)));
    const ConnectionEndpoints client = table.last_client();
    TcpTableReader reader;
    for (auto _ : state) {
        auto pid = owning_process_of_connection(reader, table, client);
        if (!pid || !*pid) {
            state.SkipWithError("the client's row was not found");
            return;
        }
        benchmark::DoNotOptimize(pid);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(tcp_row_scan)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The floor for any scan: one copy of the same table out of the source into a fresh buffer.
void tcp_table_copy(benchmark::State& state) {
    SyntheticTable table(static_cast<std::uint32_t>(state.range(0)));
    std::uint32_t size_bytes = 0;
    (void)table.fill({}, size_bytes);
    for (auto _ : state) {
        std::vector<std::uint32_t> buffer(size_bytes / 4);
        benchmark::DoNotOptimize(table.fill(buffer, size_bytes));
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(tcp_table_copy)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
