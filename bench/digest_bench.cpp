// verify_core_file's digest: the portable SHA-256 (libgcrypt) over a large file, read in the
// product's chunk size. bench/run hashes the same file with OpenSSL for the peer figure.
//
//   QUORVEX_BENCH_FILE=<path> bench_digest [benchmark options]
//
// Without QUORVEX_BENCH_FILE a 64 MiB file of pseudo-random bytes is made in the temp directory.

#include "service/hub/sha256_digest.hpp"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

std::string bench_file() {
    if (const char* given = std::getenv("QUORVEX_BENCH_FILE")) return given;
    const auto path = std::filesystem::temp_directory_path() / "quorvex-digest-bench.bin";
    if (!std::filesystem::exists(path)) {
        std::mt19937_64 random(1);
        std::vector<std::uint64_t> block(1 << 17); // 1 MiB
        std::ofstream out(path, std::ios::binary);
        for (int mib = 0; mib < 64; ++mib) {
            for (auto& word : block) word = random();
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    return path.string();
}

// The file hashed as verify_core_file hashes it: read() in chunks of range(0) bytes, each fed to
// the digest, then the hex digest.
void verify_core_digest(benchmark::State& state) {
    const std::string path = bench_file();
    std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const int file = ::open(path.c_str(), O_RDONLY);
        if (file < 0) {
            state.SkipWithError("cannot open the benchmark file");
            return;
        }
        auto digest = quorvex::hub::Sha256::create();
        if (!digest) {
            ::close(file);
            state.SkipWithError("libgcrypt is not usable");
            return;
        }
        for (;;) {
            const ssize_t got = ::read(file, buffer.data(), buffer.size());
            if (got <= 0) break;
            digest->update({buffer.data(), static_cast<std::size_t>(got)});
            bytes += got;
        }
        ::close(file);
        benchmark::DoNotOptimize(digest->hex_digest());
    }
    state.SetBytesProcessed(bytes);
}
// 4096 is the product's chunk; 65536 shows what the chunk size costs.
BENCHMARK(verify_core_digest)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
