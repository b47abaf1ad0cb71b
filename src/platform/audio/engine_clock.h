#pragma once

#include <atomic>
#include <cstdint>

#include "platform/runloop/media_clock.h"

namespace kestio::platform::audio {

// An audio engine's media clock: the engine's sample position, in seconds, of the sample heard
// at a host time.
//
// The render thread reports every block it renders (adjust()): the position of the block's
// first frame, the host time at which that frame will be heard, and the host time of the
// report. Between reports the clock runs at rate 1 against host time; when reports stop (the
// engine stopped, the device stalled or went away) it keeps running on host time. A report
// that disagrees with the running clock moves it by a fraction of the error (device time
// estimates jitter), or all of it when the error is large. The clock never reads less at a
// later host time than it did at an earlier one: where a report puts it back, it holds until
// the reported position catches up.
//
// adjust() runs on one thread at a time (the render thread, or the main thread while the engine
// is stopped) and does not allocate or lock; timeAt() and hostTimeAt() are safe from any
// thread.
class EngineClock final : public MediaClock {
  public:
    // An error larger than this is taken at once.
    static constexpr double kSnapSeconds = 0.05;
    // The fraction of a smaller error taken per report.
    static constexpr double kGain = 0.1;

    // Reads `startTime` at host time `hostNow`.
    EngineClock(HostTime hostNow, ClockTime startTime);

    ClockTime timeAt(HostTime hostTime) const override;
    HostTime hostTimeAt(ClockTime clockTime) const override;

    // The render thread's report: the sample at engine position `position` is heard at
    // `heardAt`; the report is made at `hostNow`. `exact` takes the report as it is (after a
    // restart).
    void adjust(ClockTime position, HostTime heardAt, HostTime hostNow, bool exact) noexcept;

  private:
    struct Line {
        double hostTime;  // the clock reads `time` here
        double time;      // and runs at rate 1 from it
        double floor;     // but never reads less than this
    };
    Line read() const noexcept;
    void write(const Line& line) noexcept;
    static double eval(const Line& line, double hostTime) noexcept;

    // A sequence lock: odd while the writer changes the line.
    std::atomic<uint64_t> sequence_{0};
    std::atomic<double> hostTime_;
    std::atomic<double> time_;
    std::atomic<double> floor_;
    Line line_;  // the writer's copy
};

}  // namespace kestio::platform::audio
