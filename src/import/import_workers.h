#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/media/media_file.h"

namespace kestio {

// Lets the owner of a job stop it: blocking media I/O is interrupted at once and the job's
// loops give up at their next check. Safe from any thread.
class JobControl {
  public:
    JobControl();

    void cancel();
    bool cancelled() const;
    // Blocks until cancel() has been called (for work that has nothing better to wait on).
    void waitUntilCancelled() const;
    // Handed to every media file the job opens, so that cancel() reaches its reads.
    const std::shared_ptr<platform::ffmpeg::IoControl>& io() const { return io_; }

    // Calls `stop` when the job is cancelled (at once when it already is) until the returned
    // guard is destroyed; `stop` must be safe from any thread.
    class StopHook {
      public:
        StopHook(StopHook&&) = delete;
        ~StopHook();

      private:
        friend class JobControl;
        explicit StopHook(JobControl& control) : control_(control) {}
        JobControl& control_;
    };
    [[nodiscard]] StopHook onCancel(std::function<void()> stop);

  private:
    const std::shared_ptr<platform::ffmpeg::IoControl> io_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cancelledSignal_;
    bool cancelled_ = false;
    std::function<void()> stop_;
};

// A few threads that run the blocking parts of imports (opening, probing, decoding) so that
// the main thread never waits on disk or decode. Jobs start in the order they were given.
// Destruction cancels the jobs under way, drops those not started and joins the threads.
class ImportWorkers {
  public:
    using Job = std::function<void(JobControl&)>;

    // `threads` at least 1.
    explicit ImportWorkers(int threads);
    ~ImportWorkers();
    ImportWorkers(const ImportWorkers&) = delete;
    ImportWorkers& operator=(const ImportWorkers&) = delete;

    // Queues `job`; the returned control cancels it. Any thread.
    std::shared_ptr<JobControl> submit(Job job);

    // The number of threads for an importer: half the cores the process may run on
    // (its CPU affinity), 2 to 4.
    static int defaultThreadCount();

  private:
    struct Entry {
        Job job;
        std::shared_ptr<JobControl> control;
    };
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::deque<Entry> queue_;
    std::vector<std::shared_ptr<JobControl>> running_;
    std::vector<std::thread> threads_;
};

}  // namespace kestio
