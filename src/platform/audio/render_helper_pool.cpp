#include "platform/audio/render_helper_pool.h"

#include <pthread.h>

#include <algorithm>

#include "platform/audio/denormal_guard.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestio::platform::audio {

namespace {

// How often the caller checks for the last helper before it sleeps: tasks of one block end
// within a few tens of microseconds of each other more often than not, and a sleep and wake-up
// costs about as much.
constexpr int kSpins = 2000;

void pause() noexcept {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

}  // namespace

RenderHelperPool::RenderHelperPool(uint32_t helpers) {
    helpers_.reserve(helpers);
    for (uint32_t i = 0; i < helpers; ++i) {
        auto& helper = *helpers_.emplace_back(std::make_unique<Helper>());
        helper.thread = std::thread([this, &helper] { serve(helper); });
    }
}

RenderHelperPool::~RenderHelperPool() {
    stopping_.store(true, std::memory_order_release);
    for (auto& helper : helpers_) {
        helper->wake.release();
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
    task_ = task;
    context_ = context;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    busy_.store(woken, std::memory_order_relaxed);
    for (uint32_t i = 0; i < woken; ++i) {
        helpers_[i]->wake.release();
    }
    takeTasks();
    for (int spin = 0; spin < kSpins; ++spin) {
        if (done_.try_acquire()) {
            return;
        }
        pause();
    }
    done_.acquire();
}

void RenderHelperPool::takeTasks() noexcept {
    for (uint32_t i = next_.fetch_add(1, std::memory_order_relaxed); i < count_;
         i = next_.fetch_add(1, std::memory_order_relaxed)) {
        task_(context_, i);
    }
}

void RenderHelperPool::serve(Helper& helper) noexcept {
    pthread_setname_np(pthread_self(), "audio render");
    const DenormalGuard denormalsAreZero;
    for (;;) {
        helper.wake.acquire();
        if (stopping_.load(std::memory_order_acquire)) {
            return;
        }
        takeTasks();
        // The last one done hands every helper's work over to the caller: the decrements form
        // one release sequence, which the caller's acquire of done_ follows.
        if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            done_.release();
        }
    }
}

}  // namespace kestio::platform::audio
