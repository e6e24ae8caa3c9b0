#include "heap_usage.hpp"

#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#if defined(__SANITIZE_ADDRESS__)
// From AddressSanitizer's runtime (its header does not come with g++).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace quorvex::http::test {

std::size_t live_heap_bytes() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const auto info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

std::size_t resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0;
    std::size_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

HeapPeak::HeapPeak() : baseline_(live_heap_bytes()), peak_(baseline_) {
    sampler_ = std::thread([this] {
        while (running_) {
            const auto now = live_heap_bytes();
            if (now > peak_) {
                peak_ = now;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

HeapPeak::~HeapPeak() { (void)stop(); }

std::size_t HeapPeak::stop() {
    running_ = false;
    if (sampler_.joinable()) {
        sampler_.join();
    }
    return peak_ > baseline_ ? peak_ - baseline_ : 0;
}

} // namespace quorvex::http::test
