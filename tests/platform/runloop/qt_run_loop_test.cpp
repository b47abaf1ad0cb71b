#include "platform/runloop/qt_run_loop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <thread>
#include <vector>

#include "stall_cases.h"

namespace kestio::platform {
namespace {

using test::StallCase;

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
    const double start = loop.now().seconds();
    double onceAt = 0;
    auto oneShot = loop.after(0.02, [&] {
        once = true;
        onceAt = loop.now().seconds();
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

TEST(QtRunLoop, OneShotTimersNeverFireBeforeTheirDelay) {
    QtRunLoop loop;
    EventLoopRunner runner;
    const std::vector<double> delays = {0.0002, 0.0009, 0.0013, 0.0027, 0.0104};
    std::vector<double> firedAfter(delays.size(), -1.0);
    std::vector<TimerHandle> timers;
    std::size_t fired = 0;
    const double start = loop.now().seconds();
    for (std::size_t i = 0; i < delays.size(); ++i) {
        timers.push_back(loop.after(delays[i], [&, i] {
            firedAfter[i] = loop.now().seconds() - start;
            if (++fired == delays.size()) {
                runner.quit();
            }
        }));
    }
    runner.run();
    ASSERT_FALSE(runner.timedOut());
    for (std::size_t i = 0; i < delays.size(); ++i) {
        EXPECT_GE(firedAfter[i], delays[i]) << "delay " << delays[i];
    }
}

// The same cases as ManualRunLoopStall, in real time: a busy thread is a busy loop. A loaded
// machine only makes ticks later, so the virtual times are lower bounds: a tick before its time
// would be an early tick, or a missed one being made up.
class QtRunLoopStall : public ::testing::TestWithParam<StallCase> {};

TEST_P(QtRunLoopStall, TicksNeverRunBeforeTheirTimeOnTheIdealLoop) {
    const StallCase& item = GetParam();
    const double period = 0.0107;
    QtRunLoop loop;
    EventLoopRunner runner;
    const auto busyFor = [&](double seconds) {
        const double until = loop.now().seconds() + seconds;
        while (loop.now().seconds() < until) {
        }
    };
    std::vector<double> ticks;
    TimerHandle timer;
    const double start = loop.now().seconds();
    timer = loop.every(period, [&] {
        ticks.push_back((loop.now().seconds() - start) / period);
        if (static_cast<int>(ticks.size()) == item.stallingTick) {
            if (item.posted) {
                loop.post([&] { busyFor(item.stallPeriods * period); });
            } else {
                busyFor(item.stallPeriods * period);
            }
        }
        if (ticks.size() == item.ticks.size()) {
            timer.cancel();
            runner.quit();
        }
    });
    runner.run();
    ASSERT_FALSE(runner.timedOut());
    ASSERT_EQ(ticks.size(), item.ticks.size());
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i], item.ticks[i] - 1e-9) << "tick " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, QtRunLoopStall, ::testing::ValuesIn(test::stallCases()));

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
