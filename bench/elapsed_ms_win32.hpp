#pragma once
// The benchmarks' clock under Wine: the performance counter, in milliseconds.

#include <windows.h>

inline double now_ms() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER count;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}
