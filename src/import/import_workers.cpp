#include "import/import_workers.h"

#include <algorithm>

#include "platform/runloop/usable_cores.h"

namespace kestio {

JobControl::JobControl() : io_(std::make_shared<platform::ffmpeg::IoControl>()) {}

void JobControl::cancel() {
    io_->cancel();
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        if (stop_) {
            stop_();
        }
    }
    cancelledSignal_.notify_all();
}

JobControl::StopHook JobControl::onCancel(std::function<void()> stop) {
    std::lock_guard lock(mutex_);
    if (cancelled_) {
        stop();
    }
    stop_ = std::move(stop);
    return StopHook(*this);
}

JobControl::StopHook::~StopHook() {
    std::lock_guard lock(control_.mutex_);
    control_.stop_ = nullptr;
}

bool JobControl::cancelled() const {
    return io_->cancelled();
}

void JobControl::waitUntilCancelled() const {
    std::unique_lock lock(mutex_);
    cancelledSignal_.wait(lock, [this] { return cancelled_; });
}

ImportWorkers::ImportWorkers(int threads) {
    const int count = std::max(1, threads);
    threads_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        threads_.emplace_back([this] { run(); });
    }
}

ImportWorkers::~ImportWorkers() {
    std::deque<Entry> dropped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(queue_);
        for (const auto& control : running_) {
            control->cancel();
        }
    }
    wake_.notify_all();
    for (auto& thread : threads_) {
        thread.join();
    }
    // Jobs never started are released here, on the owner's thread.
}

std::shared_ptr<JobControl> ImportWorkers::submit(Job job) {
    auto control = std::make_shared<JobControl>();
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            control->cancel();
            return control;
        }
        queue_.push_back({std::move(job), control});
    }
    wake_.notify_one();
    return control;
}

int ImportWorkers::defaultThreadCount() {
    return std::clamp(platform::usableCores() / 2, 2, 4);
}

void ImportWorkers::run() {
    for (;;) {
        Entry entry;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            entry = std::move(queue_.front());
            queue_.pop_front();
            running_.push_back(entry.control);
        }
        if (!entry.control->cancelled()) {
            entry.job(*entry.control);
        }
        // The job's captures are released on this thread; jobs hand their results over by
        // moving them into work posted to the main thread, never by destroying them here.
        entry.job = nullptr;
        std::lock_guard lock(mutex_);
        running_.erase(std::find(running_.begin(), running_.end(), entry.control));
    }
}

}  // namespace kestio
