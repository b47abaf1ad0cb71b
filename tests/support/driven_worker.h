#pragma once

#include <deque>
#include <functional>
#include <memory>

#include "platform/runloop/run_loop.h"

namespace kestio::test {

// A worker thread that the test drives: work handed over waits until the test runs it (on the
// test's thread), and its answer is then posted to the run loop, as a real worker posts it.
class DrivenWorker {
  public:
    explicit DrivenWorker(platform::RunLoop& loop) : loop_(loop) {}

    template <typename T>
    void run(std::function<T()> work, std::function<void(T)> done) {
        jobs_.push_back([this, work = std::move(work), done = std::move(done)] {
            auto result = std::make_shared<T>(work());
            loop_.post([done, result] { done(std::move(*result)); });
        });
    }

    std::size_t queued() const { return jobs_.size(); }
    // Runs the oldest job handed over; false when there is none.
    bool runNext() {
        if (jobs_.empty()) {
            return false;
        }
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        job();
        return true;
    }
    void runAll() {
        while (runNext()) {
        }
    }

  private:
    platform::RunLoop& loop_;
    std::deque<std::function<void()>> jobs_;
};

}  // namespace kestio::test
