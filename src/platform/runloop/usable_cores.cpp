#include "platform/runloop/usable_cores.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace kestio::platform {

int usableCores() {
    // The mask may have to be larger than cpu_set_t on machines with many CPUs: grow it until
    // the kernel accepts it.
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 16); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (!set) {
            break;
        }
        const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(bytes, set);
        const int read = sched_getaffinity(0, bytes, set);
        const int count = read == 0 ? CPU_COUNT_S(bytes, set) : 0;
        CPU_FREE(set);
        if (read == 0) {
            return std::max(count, 1);
        }
    }
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

}  // namespace kestio::platform
