#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace kestio::platform {

// A few threads of their own that run the jobs handed to them, in the order handed over, each
// on the first thread that is free: a long job holds one thread, never the jobs after it while
// another thread is free. With one thread the jobs run one at a time, in order. Handing a job
// over never waits.
class JobThreads {
  public:
    explicit JobThreads(int threads);
    // Runs the jobs already handed over, then ends the threads.
    ~JobThreads();
    JobThreads(const JobThreads&) = delete;
    JobThreads& operator=(const JobThreads&) = delete;

    // Any thread.
    void submit(std::function<void()> job);
    // Blocks until every job handed over before the call has run (later ones may still run).
    // Never from a job.
    void flush();
    // True while no job is queued or running. Any thread.
    bool idle() const;

  private:
    void run();
    // The number of the oldest job not yet finished; the next number when there is none.
    std::uint64_t oldestUnfinished() const;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    // Queued jobs with their numbers, in the order handed over, and the numbers of the jobs
    // running now.
    std::deque<std::pair<std::uint64_t, std::function<void()>>> jobs_;
    std::set<std::uint64_t> running_;
    std::uint64_t submitted_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// One thread that runs the jobs handed to it one at a time, in the order they were handed over.
class SerialWorker : public JobThreads {
  public:
    SerialWorker() : JobThreads(1) {}
};

}  // namespace kestio::platform
