#include "platform/audio/render_helper_pool.h"

#include <pthread.h>

#include <algorithm>

#include "platform/audio/denormal_guard.h"
#include "platform/audio/realtime_scheduling.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestio::platform::audio {

namespace {

// How often the caller checks for the last helper before it sleeps: tasks of one block end
// within a few tens of microseconds of each other more often than not, and a sleep and wake-up
// costs about as much.
constexpr int kSpins = 2000;

// A block's ticket: its generation in the high half, the number of its tasks not taken yet in
// the low half. Generations only grow and so does a ticket, so no ticket comes back (not for
// 2^32 blocks, over a year of sound).
constexpr uint64_t ticket(uint32_t generation, uint32_t left) {
    return uint64_t(generation) << 32 | left;
}
constexpr uint32_t generationOf(uint64_t ticket) {
    return uint32_t(ticket >> 32);
}
constexpr uint32_t leftOf(uint64_t ticket) {
    return uint32_t(ticket);
}

// A helper's call: the generation below, and this bit while a wake is on its way.
constexpr uint64_t kWakePending = uint64_t(1) << 32;

void pause() noexcept {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

}  // namespace

RenderHelperPool::RenderHelperPool(uint32_t helpers, WakeHook onWake, void* wakeContext)
    : onWake_(onWake), wakeContext_(wakeContext) {
    helpers_.reserve(helpers);
    for (uint32_t i = 0; i < helpers; ++i) {
        auto& helper = *helpers_.emplace_back(std::make_unique<Helper>());
        helper.thread = std::thread([this, &helper, i] { serve(helper, i); });
    }
}

RenderHelperPool::~RenderHelperPool() {
    stopping_.store(true, std::memory_order_release);
    for (auto& helper : helpers_) {
        wake(*helper, generation_);
    }
    for (auto& helper : helpers_) {
        helper->thread.join();
    }
}

uint32_t RenderHelperPool::helpersFor(int cores) {
    return uint32_t(std::clamp(cores - 1, 0, 3));
}

void RenderHelperPool::run(uint32_t count, Task task, void* context) noexcept {
    const uint32_t woken = std::min(helperCount(), count > 0 ? count - 1 : 0);
    if (woken == 0) {
        for (uint32_t i = 0; i < count; ++i) {
            task(context, i);
        }
        return;
    }
    if (blocksSinceLook_++ % kBlocksPerLook == 0) {
        callerPriority_.store(realTimePriorityOfCallingThread(), std::memory_order_relaxed);
    }
    const uint32_t generation = ++generation_;
    task_ = task;
    context_ = context;
    count_ = count;
    unfinished_.store(count, std::memory_order_relaxed);
    // Opens the block: what was written above happens before any task is taken.
    ticket_.store(ticket(generation, count), std::memory_order_release);
    for (uint32_t i = 0; i < woken; ++i) {
        wake(*helpers_[i], generation);
    }
    if (takeTasks(generation)) {
        return;
    }
    // A helper still has a task in hand; it releases done_ when it has done the last one.
    for (int spin = 0; spin < kSpins; ++spin) {
        if (done_.try_acquire()) {
            return;
        }
        pause();
    }
    done_.acquire();
}

void RenderHelperPool::wake(Helper& helper, uint32_t generation) noexcept {
    // A helper that has not taken its last wake yet takes the new generation with that one: a
    // second release would overflow its semaphore.
    const uint64_t before =
        helper.call.exchange(generation | kWakePending, std::memory_order_acq_rel);
    if ((before & kWakePending) == 0) {
        helper.wake.release();
    }
}

bool RenderHelperPool::takeTasks(uint32_t generation) noexcept {
    bool doneLast = false;
    uint64_t seen = ticket_.load(std::memory_order_relaxed);
    while (generationOf(seen) == generation && leftOf(seen) > 0) {
        // The claim reads the block's opening store or a later claim, so the block's tasks are
        // visible, and the block stays live until this task is done.
        if (!ticket_.compare_exchange_weak(seen, seen - 1, std::memory_order_acquire,
                                           std::memory_order_relaxed)) {
            continue;
        }
        task_(context_, count_ - leftOf(seen));
        // The decrements form one release sequence: the thread that does the last one sees
        // what every task wrote.
        doneLast = unfinished_.fetch_sub(1, std::memory_order_acq_rel) == 1;
        seen = ticket_.load(std::memory_order_relaxed);
    }
    return doneLast;
}

void RenderHelperPool::serve(Helper& helper, uint32_t number) noexcept {
    pthread_setname_np(pthread_self(), "audio render");
    const DenormalGuard denormalsAreZero;
    int priority = 0;  // this helper's real-time priority; 0: ordinary
    for (;;) {
        helper.wake.acquire();
        // Reads the newest call: a wake that came while this one was on its way changed it.
        const auto generation =
            uint32_t(helper.call.fetch_and(~kWakePending, std::memory_order_acq_rel));
        if (stopping_.load(std::memory_order_acquire)) {
            return;
        }
        if (const int wanted = callerPriority_.load(std::memory_order_relaxed);
            wanted != priority) {
            // Refused where the caller was allowed, which cannot happen within one process:
            // not tried again until the caller's scheduling changes.
            if (wanted > 0) {
                askForRealTime(wanted);
            } else {
                scheduleCallingThreadOrdinarily();
            }
            priority = wanted;
        }
        if (onWake_ != nullptr) {
            onWake_(wakeContext_, number);
        }
        if (takeTasks(generation)) {
            done_.release();
        }
    }
}

}  // namespace kestio::platform::audio
