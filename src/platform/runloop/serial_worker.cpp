#include "platform/runloop/serial_worker.h"

#include <utility>

namespace kestio::platform {

SerialWorker::SerialWorker() : thread_([this] { run(); }) {}

SerialWorker::~SerialWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SerialWorker::submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        ++submitted_;
    }
    wake_.notify_one();
}

void SerialWorker::flush() {
    std::unique_lock lock(mutex_);
    const uint64_t target = submitted_;
    done_.wait(lock, [&] { return finished_ >= target; });
}

bool SerialWorker::idle() const {
    std::lock_guard lock(mutex_);
    return finished_ == submitted_;
}

void SerialWorker::run() {
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
        ++finished_;
        done_.notify_all();
    }
}

}  // namespace kestio::platform
