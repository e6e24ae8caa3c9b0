#pragma once
// How much heap the process holds, for bound checks on memory (never on time). Counts malloc and
// operator new alike, so nghttp2's allocations are included.

#include <atomic>
#include <cstddef>
#include <thread>

namespace quorvex::http::test {

// Bytes allocated and not yet freed: AddressSanitizer's count in a sanitized build (its
// quarantine is not counted), glibc's otherwise.
[[nodiscard]] std::size_t live_heap_bytes();

// Resident set size of the process, from /proc/self/statm.
[[nodiscard]] std::size_t resident_bytes();

// The highest live_heap_bytes() seen while it runs, sampled on a thread of its own.
class HeapPeak {
public:
    HeapPeak();
    ~HeapPeak();
    HeapPeak(const HeapPeak&) = delete;
    HeapPeak& operator=(const HeapPeak&) = delete;

    // Stops sampling; the peak above the level when sampling began.
    std::size_t stop();

private:
    std::size_t baseline_;
    std::atomic<std::size_t> peak_;
    std::atomic<bool> running_{true};
    std::thread sampler_;
};

} // namespace quorvex::http::test
