#pragma once

// Calls handed to the thread of a QObject through Qt's queued connections, with their order
// stated in atomics of our own. Qt hands a queued call over, and waits for a blocking one,
// through futex-based locks that the thread sanitizer cannot see; without these steps it takes
// whatever the caller wrote before handing the call over (the call's closure, which Qt copies
// into its call object, included) as a race with what the call reads. The atomics cost a few
// instructions and change nothing else.

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace kestio::platform {

namespace detail {

// The one capture of a closure handed to Qt. Qt copies the closure into its call object after
// the caller's last step of its own; every copy ends with a release store, which the receiving
// thread loads first, so all that the caller wrote up to and including the copy comes before
// the call. The receiving side stores again once it has read, and the destructor loads: Qt may
// free a blocking call's object on the caller's thread. (One capture: the order in which a
// lambda's captures are made is left open by the language.)
template <class T>
class HandedOver {
  public:
    explicit HandedOver(T value) : value_(std::move(value)) {
        ready_.store(true, std::memory_order_release);
    }
    HandedOver(const HandedOver& other) : value_(other.value_) {
        ready_.store(true, std::memory_order_release);
    }
    HandedOver& operator=(const HandedOver&) = delete;
    ~HandedOver() { (void)ready_.load(std::memory_order_acquire); }

    // On the receiving thread.
    T get() const {
        (void)ready_.load(std::memory_order_acquire);
        T value = value_;
        ready_.store(true, std::memory_order_release);
        return value;
    }

  private:
    T value_;
    mutable std::atomic<bool> ready_{false};
};

}  // namespace detail

// Runs `fn` on `context`'s thread and waits for it (at once when called on that thread). The
// call is handed over as a plain queued one, and the wait ends when Qt lets go of it, run or
// dropped (its context gone): a blocking queued call would have Qt read the caller's stack
// after `fn` returns, past any order of ours, which the thread sanitizer reports.
template <class Fn>
void runOnThreadOf(QObject& context, Fn&& fn) {
    if (QThread::currentThread() == context.thread()) {
        fn();
        return;
    }
    struct Waiter {
        std::mutex mutex;
        std::condition_variable released;
        bool done = false;
    };
    struct Call {
        Call(std::remove_reference_t<Fn>* fn, std::shared_ptr<Waiter> waiter)
            : fn(fn), waiter(std::move(waiter)) {}
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        ~Call() {
            std::lock_guard lock(waiter->mutex);
            waiter->done = true;
            waiter->released.notify_all();
        }
        std::remove_reference_t<Fn>* fn;
        std::shared_ptr<Waiter> waiter;
    };
    const auto waiter = std::make_shared<Waiter>();
    QMetaObject::invokeMethod(
        &context,
        [handle = detail::HandedOver<std::shared_ptr<Call>>(std::make_shared<Call>(&fn, waiter))] {
            (*handle.get()->fn)();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(waiter->mutex);
    waiter->released.wait(lock, [&] { return waiter->done; });
}

// Queues `fn` to run on `context`'s thread without waiting; dropped if `context` is gone by
// then.
template <class Fn>
void postToThreadOf(QObject* context, Fn&& fn) {
    auto call = std::make_shared<std::decay_t<Fn>>(std::forward<Fn>(fn));
    QMetaObject::invokeMethod(
        context,
        [handle = detail::HandedOver<decltype(call)>(std::move(call))] { (*handle.get())(); },
        Qt::QueuedConnection);
}

}  // namespace kestio::platform
