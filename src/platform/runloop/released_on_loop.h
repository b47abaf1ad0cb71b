#pragma once

#include <memory>
#include <thread>
#include <utility>

#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// Shares an object of the loop's thread with other threads while keeping its destruction on the
// loop's thread. The pointer returned points at `object`; copies of it may be taken and dropped
// on any thread. When the last of them goes on another thread, the reference to `object` they
// held is posted to `loop` and let go there; on the thread that called this function it is let
// go at once. So a presenter thread that drops the last picture of a player never runs the
// player's destructor.
//
// Call it on the loop's thread. The loop must outlive every copy.
template <class T>
std::shared_ptr<T> releasedOnLoop(std::shared_ptr<T> object, RunLoop& loop) {
    if (!object) {
        return nullptr;
    }
    T* const pointer = object.get();
    return std::shared_ptr<T>(
        pointer, [kept = std::move(object), &loop, home = std::this_thread::get_id()](T*) mutable {
            if (std::this_thread::get_id() == home) {
                kept.reset();
                return;
            }
            // Released when the posted step is destroyed: after it runs, or with the loop.
            loop.post([released = std::move(kept)] {});
        });
}

}  // namespace kestio::platform
