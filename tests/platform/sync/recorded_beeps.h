#pragma once

// Playing through the system's sound server while its sink's monitor is recorded: a run loop
// that follows the steady clock, and the beeps found in the recording checked against the host
// times at which their flashes were seen.

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "audio/timed_recording.h"
#include "platform/runloop/host_clock.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/signal_analysis.h"

namespace kestio::test {

inline double steadyNow() {
    return platform::SteadyHostClock().now().seconds();
}

// Each call takes in Qt's events (the recording's among them) for about 2 ms and moves the run
// loop up to the steady clock; it answers false once `budgetSeconds` from construction have
// passed.
class SteadyClockFollower {
  public:
    SteadyClockFollower(platform::ManualRunLoop& loop, double budgetSeconds)
        : loop_(loop), deadline_(steadyNow() + budgetSeconds) {}

    bool operator()() {
        QEventLoop events;
        QTimer::singleShot(2, &events, &QEventLoop::quit);
        events.exec();
        loop_.advance(std::max(0.0, steadyNow() - loop_.now().seconds()));
        return inTime();
    }
    bool inTime() const { return steadyNow() < deadline_; }

  private:
    platform::ManualRunLoop& loop_;
    double deadline_;
};

// For each flash seen at host time flashes[k], the beep is the first recorded frame above half
// `beepAmplitude` from 0.3 s before it, placed on host time by the server's timing: it lies
// within `tolerance` of its flash. Each difference is kept as the test property
// "<what><k>_flash_minus_beep_us".
inline void expectRecordedBeeps(const TimedRecording& recording, const std::vector<double>& flashes,
                                double beepAmplitude, const std::string& what,
                                double tolerance = 0.005) {
    const auto left = recording.left();
    for (std::size_t k = 0; k < flashes.size(); ++k) {
        const std::string name = what + std::to_string(k);
        const auto from = std::size_t(std::max(0.0, *recording.frameAt(flashes[k] - 0.3)));
        ASSERT_LT(from, left.size()) << name;
        const std::span<const float> window(left.data() + from, left.size() - from);
        const std::size_t at = firstAbove(window, float(0.5 * beepAmplitude));
        ASSERT_LT(at, window.size()) << "no beep recorded near " << name;
        const double beep = *recording.hostTimeOf(double(from + at));
        ::testing::Test::RecordProperty(name + "_flash_minus_beep_us",
                                        std::to_string(std::lround((flashes[k] - beep) * 1e6)));
        EXPECT_NEAR(flashes[k], beep, tolerance) << name;
    }
}

}  // namespace kestio::test
