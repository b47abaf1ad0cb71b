#include "app/allocator_tuning.h"

#include <malloc.h>

namespace kestio::app {

namespace {
constexpr int kMappedBlockBytes = 128 * 1024;
constexpr int kArenas = 4;
}  // namespace

void tuneAllocator() {
    // A threshold set here stays put: the allocator would otherwise raise it to the size of each
    // mapped block freed, and keep the next ones in its arenas.
    mallopt(M_MMAP_THRESHOLD, kMappedBlockBytes);
    mallopt(M_ARENA_MAX, kArenas);
}

void returnFreedMemory() {
    malloc_trim(0);
}

}  // namespace kestio::app
