#pragma once

namespace kestio::platform {

// How many CPUs the calling thread may run on: the size of its CPU affinity mask
// (sched_getaffinity), which is what `taskset`, cgroup cpusets and container limits narrow, and
// which a new thread inherits. Work pools and decoders size their threads by it rather than by
// the machine's core count, which would put more threads than cores on a process given a few.
// At least 1; the machine's count when the mask cannot be read.
int usableCores();

}  // namespace kestio::platform
