#include "platform/graphics/worker_pool.h"

#include <pthread.h>
#include <algorithm>
#include <atomic>

#include "platform/runloop/usable_cores.h"

namespace kestio::platform {

struct WorkerPool::Job {
    const std::function<void(int)>* part = nullptr;
    int count = 0;
    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0;  // guarded by mutex
};

WorkerPool::WorkerPool(int workers) {
    threads_.reserve(static_cast<std::size_t>(std::max(0, workers)));
    for (int i = 0; i < workers; ++i) {
        threads_.emplace_back([this] {
            pthread_setname_np(pthread_self(), "worker pool");
            workerLoop();
        });
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) {
        t.join();
    }
}

WorkerPool& WorkerPool::shared() {
    static WorkerPool pool(sharedWorkerCount());
    return pool;
}

int WorkerPool::sharedWorkerCount() {
    return std::clamp(usableCores() - 1, 0, 7);
}

bool WorkerPool::runOne(Job& job) {
    const int i = job.next.fetch_add(1);
    if (i >= job.count) {
        return false;
    }
    (*job.part)(i);
    {
        std::lock_guard lock(job.mutex);
        if (++job.done == job.count) {
            job.finished.notify_all();
        }
    }
    return true;
}

void WorkerPool::workerLoop() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;  // stopping, nothing left
            }
            job = jobs_.front();
            if (job->next.load() >= job->count) {
                jobs_.pop_front();
                continue;
            }
        }
        while (runOne(*job)) {
        }
    }
}

void WorkerPool::parallelFor(int count, const std::function<void(int)>& part) {
    if (count <= 0) {
        return;
    }
    if (count == 1 || threads_.empty()) {
        for (int i = 0; i < count; ++i) {
            part(i);
        }
        return;
    }
    auto job = std::make_shared<Job>();
    job->part = &part;
    job->count = count;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(job);
    }
    wake_.notify_all();
    while (runOne(*job)) {
    }
    std::unique_lock lock(job->mutex);
    job->finished.wait(lock, [&] { return job->done == job->count; });
    lock.unlock();
    // Usually a worker has already dropped the finished job from the queue; make sure.
    std::lock_guard queueLock(mutex_);
    std::erase(jobs_, job);
}

}  // namespace kestio::platform
