#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestio::platform {

// A fixed set of threads for splitting one piece of picture work (rows of an image) into
// parts. Any thread may call parallelFor(), also several at once and from inside a part: the
// caller works on its own job too, so a busy pool never stalls it.
class WorkerPool {
  public:
    // `workers` threads besides the callers; 0 runs everything on the calling thread.
    explicit WorkerPool(int workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // How many threads can work on one job at once (the workers plus the caller).
    int concurrency() const { return static_cast<int>(threads_.size()) + 1; }

    // Calls part(i) for every i in [0, count) and returns when all calls have returned.
    void parallelFor(int count, const std::function<void(int)>& part);

    // The process's pool for picture work, made on first use with sharedWorkerCount() threads.
    static WorkerPool& shared();
    // One thread per core the process may run on (its CPU affinity), less the caller's, at
    // most seven.
    static int sharedWorkerCount();

  private:
    struct Job;
    void workerLoop();
    static bool runOne(Job& job);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Job>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace kestio::platform
