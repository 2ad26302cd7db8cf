#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

// CPU time of this process, so that a busy machine does not distort the numbers.
template <typename F> double TimeIt(F&& f)
{
    timespec a{}, b{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    f();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    return double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) / 1e9;
}

inline void ReportRate(const char* name, double seconds, int64_t instructions)
{
    std::printf("%-28s %9.3f ms CPU  %7.1f M instructions/s\n", name, seconds * 1000.0,
                seconds > 0 ? static_cast<double>(instructions) / seconds / 1e6 : 0.0);
}

void RunVmBenchmarks();
void RunCompileBenchmarks();
