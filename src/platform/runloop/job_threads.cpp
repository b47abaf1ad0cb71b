#include "platform/runloop/job_threads.h"

#include <algorithm>
#include <utility>

namespace kestio::platform {

JobThreads::JobThreads(int threads) {
    for (int i = 0; i < std::max(threads, 1); ++i) {
        threads_.emplace_back([this] { run(); });
    }
}

JobThreads::~JobThreads() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) {
        thread.join();
    }
}

void JobThreads::submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void JobThreads::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            return;
        }
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
}

}  // namespace kestio::platform
