// A call run on another object's thread: where it runs, when the caller goes on, and a call Qt
// drops. (What the thread sanitizer saw of Qt's blocking call shows in the sound output's tests
// on the server, under a -DKESTIO_SANITIZE_THREAD=ON build.)

#include "platform/runloop/qt_hand_over.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace kestio::platform {
namespace {

using namespace std::chrono_literals;

// An object living on a thread of its own, which runs its event loop until the end.
struct ObjectOnItsThread {
    ObjectOnItsThread() {
        object.moveToThread(&thread);
        thread.start();
    }
    ~ObjectOnItsThread() {
        thread.quit();
        thread.wait();
    }
    QThread thread;
    QObject object;
};

TEST(RunOnThreadOf, RunsOnTheObjectsThreadAndReturnsOnceItHasRun) {
    ObjectOnItsThread target;
    for (int round = 0; round < 100; ++round) {
        QThread* ranOn = nullptr;
        int value = 0;  // on the caller's stack, written by the call, read after the return
        runOnThreadOf(target.object, [&] {
            ranOn = QThread::currentThread();
            value = round + 1;
        });
        ASSERT_EQ(ranOn, &target.thread);
        ASSERT_EQ(value, round + 1);
    }
}

TEST(RunOnThreadOf, RunsAtOnceOnTheObjectsOwnThread) {
    QObject here;
    bool ran = false;
    runOnThreadOf(here, [&] { ran = true; });
    EXPECT_TRUE(ran);
}

// A call Qt drops unrun (its object gone, or its pending events taken away) still lets the
// caller go on.
TEST(RunOnThreadOf, ACallQtDropsEndsTheWait) {
    // Shared with the calling thread, which is left behind if it never returns.
    struct Scene {
        QThread neverStarted;
        QObject object;
        std::atomic<bool> ran{false};
        std::atomic<bool> returned{false};
    };
    auto scene = std::make_shared<Scene>();
    scene->object.moveToThread(&scene->neverStarted);
    std::thread caller([scene] {
        runOnThreadOf(scene->object, [&] { scene->ran = true; });
        scene->returned = true;
    });
    // The call is dropped as soon as it is queued: its thread never runs.
    const auto guard = std::chrono::steady_clock::now() + 10s;
    while (!scene->returned && std::chrono::steady_clock::now() < guard) {
        QCoreApplication::removePostedEvents(&scene->object, QEvent::MetaCall);
        std::this_thread::yield();
    }
    if (!scene->returned) {
        caller.detach();
        FAIL() << "the caller still waits for a call that was dropped";
    }
    caller.join();
    EXPECT_FALSE(scene->ran.load());
}

}  // namespace
}  // namespace kestio::platform
