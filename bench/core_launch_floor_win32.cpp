// The floor of a Core start and stop under Wine: the Win32 Core platform's own calls, with no
// service, request or relay thread around them. A start opens the Core file, hashes it with CNG,
// creates the process suspended, puts it in its Job object and resumes it; a stop is
// TerminateProcess and a wait for the process to end. bench/run compares the helper's POST /start
// and POST /stop with these, in the same prefix and the same run.
//
//   bench_core_launch.exe <Core file> <address> [rounds]
//
// Prints "start_ms,<ms>" and "stop_ms,<ms>" for each of `rounds` (default 21) starts and stops.

#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"
#include "service/hub/core_platform_win32.hpp"
#include "service/hub/sha256_digest.hpp"
#include "elapsed_ms_win32.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using quorvex::win32::UniqueKernelHandle;

// The digest verify_core_file expects, so that it succeeds as in a start.
std::string digest_of(const std::wstring& path) {
    const quorvex::win32::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    auto digest = quorvex::hub::Sha256::create();
    if (!file || !digest) {
        return {};
    }
    std::array<char, 4096> buffer;
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
        if (!digest->update({buffer.data(), got})) {
            return {};
        }
    }
    auto hex = digest->hex_digest();
    return hex ? *hex : std::string();
}

int failed(const std::string& what) {
    (void)std::fprintf(stderr, "bench_core_launch: %s\n", what.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        (void)std::fputs("usage: bench_core_launch <Core file> <address> [rounds]\n", stderr);
        return 2;
    }
    const std::string core_path = argv[1];
    const std::string address = argv[2];
    const int rounds = argc == 4 ? std::max(1, static_cast<int>(std::strtol(argv[3], nullptr, 10))) : 21;
    quorvex::hub::Win32CorePlatform platform(digest_of(quorvex::win32::to_wide(core_path)));

    for (int round = 0; round < rounds; ++round) {
        const double began = now_ms();
        auto verified = platform.verify_core_file(core_path);
        if (!verified) {
            return failed("verify: " + verified.error().text());
        }
        auto launched = (*verified)->launch(address);
        if (!launched) {
            return failed("launch: " + launched.error().text());
        }
        auto job = launched->process->confine();
        if (!job) {
            return failed("confine: " + job.error().text());
        }
        if (auto resumed = launched->process->resume(); !resumed) {
            return failed("resume: " + resumed.error().text());
        }
        const double started = now_ms() - began;
        verified->reset();

        // The platform's process asks without waiting; the floor waits on the handle itself.
        const UniqueKernelHandle waitable(::OpenProcess(SYNCHRONIZE, FALSE, launched->process->id()));
        if (!waitable) {
            return failed("OpenProcess failed");
        }
        const double stopping = now_ms();
        launched->process->terminate(1);
        if (::WaitForSingleObject(waitable.get(), INFINITE) != WAIT_OBJECT_0) {
            return failed("WaitForSingleObject failed");
        }
        std::printf("start_ms,%.3f\nstop_ms,%.3f\n", started, now_ms() - stopping);
    }
    return 0;
}
