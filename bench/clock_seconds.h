#pragma once

// One of the system's clocks read in seconds: CLOCK_THREAD_CPUTIME_ID for the calling thread's
// CPU, CLOCK_PROCESS_CPUTIME_ID for that of every thread of the process, CLOCK_MONOTONIC for
// wall time.

#include <ctime>

namespace kestio::bench {

inline double secondsOf(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

}  // namespace kestio::bench
