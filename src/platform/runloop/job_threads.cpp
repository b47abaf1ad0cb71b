#include "platform/runloop/job_threads.h"

#include <algorithm>

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
        jobs_.emplace_back(submitted_++, std::move(job));
    }
    wake_.notify_one();
}

std::uint64_t JobThreads::oldestUnfinished() const {
    std::uint64_t oldest = submitted_;
    if (!jobs_.empty()) {
        oldest = std::min(oldest, jobs_.front().first);
    }
    if (!running_.empty()) {
        oldest = std::min(oldest, *running_.begin());
    }
    return oldest;
}

void JobThreads::flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = submitted_;
    done_.wait(lock, [&] { return oldestUnfinished() >= target; });
}

bool JobThreads::idle() const {
    std::lock_guard lock(mutex_);
    return jobs_.empty() && running_.empty();
}

void JobThreads::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            return;
        }
        auto [number, job] = std::move(jobs_.front());
        jobs_.pop_front();
        running_.insert(number);
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        running_.erase(number);
        done_.notify_all();
    }
}

}  // namespace kestio::platform
