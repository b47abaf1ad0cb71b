#include "platform/runloop/qt_run_loop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <thread>

namespace kestio::platform {
namespace {

// Runs the Qt event loop until `quit` is called; a generous guard timer ends a stuck test.
class EventLoopRunner {
public:
    EventLoopRunner() {
        guard_.setSingleShot(true);
        QObject::connect(&guard_, &QTimer::timeout, &loop_, [this] {
            timedOut_ = true;
            loop_.quit();
        });
    }
    void run() {
        guard_.start(10000);
        loop_.exec();
    }
    void quit() { loop_.quit(); }
    bool timedOut() const { return timedOut_; }

private:
    QEventLoop loop_;
    QTimer guard_;
    bool timedOut_ = false;
};

TEST(QtRunLoop, FiresOneShotAndRepeatingTimersInTheEventLoop) {
    QtRunLoop loop;
    EventLoopRunner runner;
    int ticks = 0;
    bool once = false;
    const double start = loop.now();
    double onceAt = 0;
    auto oneShot = loop.after(0.02, [&] {
        once = true;
        onceAt = loop.now();
    });
    TimerHandle repeating;
    repeating = loop.every(0.01, [&] {
        if (++ticks == 5) {
            repeating.cancel();
            runner.quit();
        }
    });
    runner.run();
    ASSERT_FALSE(runner.timedOut());
    EXPECT_TRUE(once);
    EXPECT_GE(onceAt - start, 0.019);
    EXPECT_EQ(ticks, 5);
}

TEST(QtRunLoop, CancelledTimerNeverFires) {
    QtRunLoop loop;
    EventLoopRunner runner;
    bool fired = false;
    auto cancelled = loop.after(0.01, [&] { fired = true; });
    cancelled.cancel();
    auto done = loop.after(0.05, [&] { runner.quit(); });
    runner.run();
    EXPECT_FALSE(fired);
}

TEST(QtRunLoop, PostFromAnotherThreadRunsOnTheLoopThread) {
    QtRunLoop loop;
    EventLoopRunner runner;
    std::thread::id ranOn;
    std::thread worker([&] {
        loop.post([&] {
            ranOn = std::this_thread::get_id();
            runner.quit();
        });
    });
    runner.run();
    worker.join();
    EXPECT_FALSE(runner.timedOut());
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace kestio::platform
