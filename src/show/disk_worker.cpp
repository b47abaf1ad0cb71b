#include "show/disk_worker.h"

namespace kestio {

DiskWorker::DiskWorker(platform::RunLoop& loop) : loop_(loop), thread_([this] { serve(); }) {}

DiskWorker::~DiskWorker() {
    // Answers posted from now on find the token gone.
    alive_.reset();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DiskWorker::submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void DiskWorker::serve() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace kestio
