#include "platform/midi/call_thread.h"

namespace kestio::platform {

CallThread::CallThread() : thread_([this] { run(); }) {}

CallThread::~CallThread() {
    finish();
    thread_.join();
}

void CallThread::post(std::function<void()> call) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    wake_.notify_one();
}

void CallThread::finish() {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_one();
}

void CallThread::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return finishing_ || !calls_.empty(); });
        if (calls_.empty()) {
            break;  // finishing, and nothing left to run
        }
        auto call = std::move(calls_.front());
        calls_.pop_front();
        lock.unlock();
        call();
        call = nullptr;  // what the call holds is released here, on this thread
        lock.lock();
    }
    finished_.store(true, std::memory_order_release);
}

}  // namespace kestio::platform
