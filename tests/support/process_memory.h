#pragma once

// What this test process holds, for soaks that check their memory stays flat: its resident
// size, and what its heap holds in use.

#include <malloc.h>
#include <unistd.h>

#include <fstream>

namespace kestio::test {

// Under a sanitizer the process's memory is mostly the tool's own bookkeeping, no measure of
// ours; soaks there run fewer cues and skip the memory check.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// Resident memory of this process, in kilobytes.
inline long residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// What the process holds on its heap (every arena, and blocks mapped on their own), in
// kilobytes. Unlike the resident size, it leaves out what the allocator keeps back after frees
// spread over many threads' arenas, which grows and shrinks by tens of megabytes with no leak
// behind it.
inline long heapKilobytes() {
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

}  // namespace kestio::test
