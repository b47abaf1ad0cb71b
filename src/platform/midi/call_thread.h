#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kestio::platform {

// One thread that runs the calls handed to it, one after another in the order given, so that
// calls which may block for long (on a server that is slow or gone) never hold up the caller.
class CallThread {
  public:
    CallThread();
    // Runs the calls still queued, then joins the thread.
    ~CallThread();
    CallThread(const CallThread&) = delete;
    CallThread& operator=(const CallThread&) = delete;

    // Queues a call; never blocks on the calls before it. Any thread.
    void post(std::function<void()> call);
    // The thread ends once the calls queued so far have run; post() is not called after this.
    void finish();
    // True once the thread has ended (joining it then returns at once).
    bool finished() const { return finished_.load(std::memory_order_acquire); }

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> calls_;
    bool finishing_ = false;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace kestio::platform
