#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kestio::platform {

// A thread of its own that runs the jobs handed to it one at a time, in the order they were
// handed over. Handing a job over never waits for the jobs before it.
class SerialWorker {
  public:
    SerialWorker();
    // Runs the jobs already handed over, then ends the thread.
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    // Any thread.
    void submit(std::function<void()> job);
    // Blocks until every job handed over before the call has run. Never from a job.
    void flush();
    // True while no job is queued or running. Any thread.
    bool idle() const;

  private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::function<void()>> jobs_;
    uint64_t submitted_ = 0;
    uint64_t finished_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kestio::platform
