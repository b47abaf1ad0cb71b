#pragma once

#include <sched.h>

namespace kestio::test {

// The first `count` CPUs this process may run on, or fewer when it has fewer: a set to narrow a
// child process to, as `taskset` would.
inline cpu_set_t firstAllowedCpus(int count) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < count; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &chosen);
            ++taken;
        }
    }
    return chosen;
}

}  // namespace kestio::test
