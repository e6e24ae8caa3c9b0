// The idle service's memory floor under Wine: a process holding as many threads as the idle
// service, each only waiting, linked with the service's stack reservation, and nothing else.
//
//   bench_idle_floor.exe <pid-file> <threads>
//
// Writes its process ID to <pid-file> once every thread exists, then waits until it is killed.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

DWORD WINAPI wait_forever(void* never_set) {
    ::WaitForSingleObject(static_cast<HANDLE>(never_set), INFINITE);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const long threads = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (threads < 1 || threads > 64) {
        (void)std::fputs("usage: bench_idle_floor <pid-file> <threads (1-64)>\n", stderr);
        return 2;
    }
    HANDLE never_set = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (never_set == nullptr) {
        return 1;
    }
    // The calling thread is the first; each of the others takes the executable's reservation.
    for (long i = 1; i < threads; ++i) {
        HANDLE thread = ::CreateThread(nullptr, 0, wait_forever, never_set, 0, nullptr);
        if (thread == nullptr) {
            return 1;
        }
        ::CloseHandle(thread);
    }
    // Written under another name and renamed, so a reader never sees a half-written file.
    const std::string pid_file = argv[1];
    const std::string partial = pid_file + ".partial";
    FILE* f = std::fopen(partial.c_str(), "w");
    if (f == nullptr) {
        return 1;
    }
    const bool written = std::fprintf(f, "%lu\n", ::GetCurrentProcessId()) > 0;
    if (std::fclose(f) != 0 || !written ||
        !::MoveFileExA(partial.c_str(), pid_file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return 1;
    }
    wait_forever(never_set);
    return 0;
}
