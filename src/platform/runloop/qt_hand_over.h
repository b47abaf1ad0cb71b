#pragma once

// Calls handed to the thread of a QObject through Qt's queued connections, with their order
// stated in atomics of our own. Qt hands a queued call over, and waits for a blocking one,
// through futex-based locks that the thread sanitizer cannot see; without these steps it takes
// whatever the caller wrote before handing the call over as a race with what the call reads.
// The atomics cost a few instructions and change nothing else.

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>
#include <utility>

namespace kestio::platform {

// Runs `fn` on `context`'s thread and waits for it (at once when called on that thread).
template <class Fn>
void runOnThreadOf(QObject& context, Fn&& fn) {
    if (QThread::currentThread() == context.thread()) {
        fn();
        return;
    }
    std::atomic<bool> order{false};
    order.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        &context,
        [&order, &fn] {
            (void)order.load(std::memory_order_acquire);
            fn();
            order.store(true, std::memory_order_release);
        },
        Qt::BlockingQueuedConnection);
    (void)order.load(std::memory_order_acquire);
}

// Queues `fn` to run on `context`'s thread without waiting; dropped if `context` is gone by
// then.
template <class Fn>
void postToThreadOf(QObject* context, Fn&& fn) {
    struct Call {
        explicit Call(Fn&& f) : fn(std::forward<Fn>(f)) {}
        std::atomic<bool> order{false};
        std::decay_t<Fn> fn;
    };
    auto call = std::make_shared<Call>(std::forward<Fn>(fn));
    call->order.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        context,
        [call] {
            (void)call->order.load(std::memory_order_acquire);
            call->fn();
        },
        Qt::QueuedConnection);
}

}  // namespace kestio::platform
