#pragma once

namespace kestio::app {

// The C library's allocator, set for this program. Importing and warming up a show, decoder
// threads allocate and free picture and packet buffers of up to tens of megabytes in bursts; left
// as it is, the allocator keeps what they freed in many per-thread arenas, out of reach of a
// trim, and the program grows by hundreds of megabytes over a session of preparing (what a fresh
// start with the same show does not hold). So: blocks of 128 kB and more are mapped on their own
// and go back to the system when freed, and the threads share at most four arenas (the cores of
// the machines the program runs on), which a trim can empty. Call first thing in main(), before
// any thread starts.
void tuneAllocator();

// Hands the memory freed since the last call back to the system, from every arena. Takes a few
// milliseconds for hundreds of megabytes and holds each arena meanwhile: called away from the
// main thread once loading (imports, a warm-up) has ended. Any thread.
void returnFreedMemory();

}  // namespace kestio::app
