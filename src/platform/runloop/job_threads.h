#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kestio::platform {

// A few threads of their own that run the jobs handed to them, in the order handed over, each
// on the first thread that is free: a long job holds one thread, never the jobs after it while
// another thread is free. Handing a job over never waits.
class JobThreads {
  public:
    explicit JobThreads(int threads);
    // Runs the jobs already handed over, then ends the threads.
    ~JobThreads();
    JobThreads(const JobThreads&) = delete;
    JobThreads& operator=(const JobThreads&) = delete;

    // Any thread.
    void submit(std::function<void()> job);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace kestio::platform
