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
// on one thread, once.
//
// run() does not wait for a helper the OS wakes late: once the caller and the helpers that did
// wake have done every task, it returns. Each block has a generation, and a task is taken by
// moving one word, the block's ticket (its generation and the tasks not yet taken), on by one;
// the move succeeds only while that block is live and only for the generation the helper was
// woken for, so a helper that wakes after its block is over takes nothing, neither of that
// block nor of a later one, and sleeps again. The block's task and context are read only
// after a task is taken, and the block cannot end before that task is done, so they are
// always the ones of the block the task belongs to.
//
// run() neither allocates nor locks: between blocks each helper sleeps on a semaphore of its
// own, and the caller, when it runs out of tasks, spins a little, then sleeps on a semaphore
// until the helper that does the last task is done. Helpers treat denormal floats as zero, as
// the render thread does, so that a task's result does not depend on the thread that ran it.
//
// Helpers are scheduled as the thread that calls run(): under the real-time policy at its
// priority while it runs under it (the sound output's thread, where the system allows), so that
// a busy machine holds up none of the block's work, and ordinarily once it steps down (see
// RealTimeDutyWatch) or when it never ran otherwise. run() looks at its caller's policy every
// kBlocksPerLook blocks; a helper takes it on when it wakes.
class RenderHelperPool {
  public:
    using Task = void (*)(void* context, uint32_t index) noexcept;
    // Called on helper number `helper` each time it wakes for a block, before it looks for a
    // task; tests hold a helper back with it to make it late.
    using WakeHook = void (*)(void* context, uint32_t helper) noexcept;

    // Starts `helpers` threads (none: run() does every task on the calling thread).
    explicit RenderHelperPool(uint32_t helpers, WakeHook onWake = nullptr,
                              void* wakeContext = nullptr);
    // Stops and joins the helpers, late ones too; run() must not be running.
    ~RenderHelperPool();
    RenderHelperPool(const RenderHelperPool&) = delete;
    RenderHelperPool& operator=(const RenderHelperPool&) = delete;

    // The helpers worth starting for a process that may run on `cores` CPUs: one for each CPU
    // beside the render thread's, at most three (beyond that, waking them costs more than it
    // saves on a block), and none on a single CPU.
    static uint32_t helpersFor(int cores);

    uint32_t helperCount() const { return uint32_t(helpers_.size()); }

    // How often run() looks at its caller's scheduling: about a third of a second of 512-frame
    // blocks at 48 kHz.
    static constexpr uint32_t kBlocksPerLook = 32;

    // Runs task(context, i) for every i below `count`, and returns when all are done. Called
    // from one thread at a time.
    void run(uint32_t count, Task task, void* context) noexcept;

  private:
    struct Helper {
        std::binary_semaphore wake{0};
        // The generation of the block it is woken for, and whether a wake is on its way to it.
        std::atomic<uint64_t> call{0};
        std::thread thread;
    };

    void wake(Helper& helper, uint32_t generation) noexcept;
    void serve(Helper& helper, uint32_t number) noexcept;
    bool takeTasks(uint32_t generation) noexcept;

    std::vector<std::unique_ptr<Helper>> helpers_;
    const WakeHook onWake_;
    void* const wakeContext_;
    uint32_t generation_ = 0;       // the last block's; the caller's alone
    uint32_t blocksSinceLook_ = 0;  // the caller's alone
    // The caller's real-time priority as run() last saw it; 0: ordinary scheduling.
    std::atomic<int> callerPriority_{0};
    // The block's tasks: written by the caller before it publishes the block's ticket, read by
    // whoever has taken one of its tasks.
    Task task_ = nullptr;
    void* context_ = nullptr;
    uint32_t count_ = 0;
    std::atomic<uint64_t> ticket_{0};      // the live block's generation and tasks left to take
    std::atomic<uint32_t> unfinished_{0};  // tasks of the live block not done yet
    std::binary_semaphore done_{0};        // released by a helper that does a block's last task
    std::atomic<bool> stopping_{false};
};

}  // namespace kestio::platform::audio
