// verify_core_file under Wine: the Win32 Core platform hashing a large file through CNG in its
// 4 KiB reads, exactly as a start does. bench/run hashes the same file with OpenSSL natively.
//
//   bench_digest.exe <file> [rounds]
//
// Prints one line: "verify_core_file,<best MiB per processor second>,<best MiB per second>".
// Processor time (user + kernel of this process) as for OpenSSL: the machine may be shared.

#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"
#include "service/hub/core_platform_win32.hpp"
#include "service/hub/sha256_digest.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double processor_seconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// The expected digest, so that verify_core_file succeeds and keeps the file open as in a start.
std::string digest_of(const std::wstring& path, ULONGLONG& size) {
    const quorvex::win32::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return {};
    }
    auto digest = quorvex::hub::Sha256::create();
    std::array<char, 65536> buffer;
    size = 0;
    DWORD got = 0;
    while (digest && ::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got > 0) {
        if (!digest->update({buffer.data(), got})) {
            digest = std::unexpected(quorvex::Error::message("hash failed"));
        }
        size += got;
    }
    if (!digest) {
        return {};
    }
    return digest->hex_digest().value_or(std::string());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        (void)std::fputs("usage: bench_digest <file> [rounds]\n", stderr);
        return 2;
    }
    const std::string path = argv[1];
    const long rounds = argc > 2 ? std::max(1L, std::strtol(argv[2], nullptr, 10)) : 5;
    ULONGLONG size = 0;
    const std::string expected = digest_of(quorvex::win32::to_wide(path), size);
    if (expected.empty() || size == 0) {
        (void)std::fprintf(stderr, "bench_digest: cannot hash %s\n", path.c_str());
        return 1;
    }
    quorvex::hub::Win32CorePlatform platform(expected);
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    double best_cpu = 0, best_wall = 0;
    for (long round = 0; round < rounds; ++round) {
        const double cpu_before = processor_seconds();
        const auto wall_before = std::chrono::steady_clock::now();
        const auto verified = platform.verify_core_file(path);
        const double cpu = processor_seconds() - cpu_before;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
        if (!verified) {
            (void)std::fprintf(stderr, "bench_digest: %s\n", verified.error().text().c_str());
            return 1;
        }
        if (cpu > 0) {
            best_cpu = std::max(best_cpu, mib / cpu);
        }
        if (wall > 0) {
            best_wall = std::max(best_wall, mib / wall);
        }
    }
    std::printf("verify_core_file,%.0f,%.0f\n", best_cpu, best_wall);
    return 0;
}
