#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

namespace kestio::platform::audio {

// A few threads that help the render thread through one block. run() hands the tasks of the
// block out one at a time, by their numbers, to the helpers and to the calling thread, which
// takes tasks too, and returns once every task is done: what the tasks wrote happens before
// run() returns, and what the caller wrote before run() happens before the tasks. A task runs
// on one thread.
//
// run() neither allocates nor locks: between blocks each helper sleeps on a semaphore of its
// own, and the caller, when it runs out of tasks, spins a little, then sleeps on a semaphore
// until the last helper is done. Helpers treat denormal floats as zero, as the render thread
// does, so that a task's result does not depend on the thread that ran it.
class RenderHelperPool {
  public:
    using Task = void (*)(void* context, uint32_t index) noexcept;

    // Starts `helpers` threads (none: run() does every task on the calling thread).
    explicit RenderHelperPool(uint32_t helpers);
    // Stops and joins the helpers; run() must not be running.
    ~RenderHelperPool();
    RenderHelperPool(const RenderHelperPool&) = delete;
    RenderHelperPool& operator=(const RenderHelperPool&) = delete;

    // The helpers worth starting for a process that may run on `cores` CPUs: one for each CPU
    // beside the render thread's, at most three (beyond that, waking them costs more than it
    // saves on a block), and none on a single CPU.
    static uint32_t helpersFor(int cores);

    uint32_t helperCount() const { return uint32_t(helpers_.size()); }

    // Runs task(context, i) for every i below `count`, and returns when all are done. Called
    // from one thread at a time.
    void run(uint32_t count, Task task, void* context) noexcept;

  private:
    struct Helper {
        std::binary_semaphore wake{0};
        std::thread thread;
    };

    void serve(Helper& helper) noexcept;
    void takeTasks() noexcept;

    std::vector<std::unique_ptr<Helper>> helpers_;
    // The block's tasks: written by the caller before it wakes the helpers.
    Task task_ = nullptr;
    void* context_ = nullptr;
    uint32_t count_ = 0;
    std::atomic<uint32_t> next_{0};  // the next task to take
    std::atomic<uint32_t> busy_{0};  // helpers woken and not done yet
    std::binary_semaphore done_{0};  // released by the last helper done
    std::atomic<bool> stopping_{false};
};

}  // namespace kestio::platform::audio
