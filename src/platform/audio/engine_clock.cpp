#include "platform/audio/engine_clock.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestio::platform::audio {

EngineClock::EngineClock(HostTime hostNow, ClockTime startTime)
    : hostTime_(hostNow.seconds()),
      time_(startTime.seconds()),
      floor_(-std::numeric_limits<double>::infinity()),
      line_{hostNow.seconds(), startTime.seconds(), -std::numeric_limits<double>::infinity()} {}

double EngineClock::eval(const Line& line, double hostTime) noexcept {
    return std::max(line.time + (hostTime - line.hostTime), line.floor);
}

EngineClock::Line EngineClock::read() const noexcept {
    for (;;) {
        const uint64_t before = sequence_.load(std::memory_order_acquire);
        if ((before & 1u) != 0) {
            continue;
        }
        const Line line{hostTime_.load(std::memory_order_relaxed),
                        time_.load(std::memory_order_relaxed),
                        floor_.load(std::memory_order_relaxed)};
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) == before) {
            return line;
        }
    }
}

void EngineClock::write(const Line& line) noexcept {
    line_ = line;
    const uint64_t at = sequence_.load(std::memory_order_relaxed);
    sequence_.store(at + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    hostTime_.store(line.hostTime, std::memory_order_relaxed);
    time_.store(line.time, std::memory_order_relaxed);
    floor_.store(line.floor, std::memory_order_relaxed);
    sequence_.store(at + 2, std::memory_order_release);
}

ClockTime EngineClock::timeAt(HostTime hostTime) const {
    return ClockTime(eval(read(), hostTime.seconds()));
}

HostTime EngineClock::hostTimeAt(ClockTime clockTime) const {
    const Line line = read();
    const double time = clockTime.seconds();
    if (time <= line.floor) {
        // The clock holds at its floor from the line's host time on: a time at or below it was
        // reached then or before.
        return HostTime(line.hostTime - (line.floor - time));
    }
    return HostTime(line.hostTime + (time - line.time));
}

void EngineClock::adjust(ClockTime positionTime, HostTime heardAtTime, HostTime hostNowTime,
                         bool exact) noexcept {
    // The line is kept in plain seconds: its host times and clock times meet only here, in the
    // clock's own arithmetic.
    const double position = positionTime.seconds();
    const double heardAt = heardAtTime.seconds();
    const double hostNow = hostNowTime.seconds();
    if (!std::isfinite(position) || !std::isfinite(heardAt) || !std::isfinite(hostNow)) {
        return;
    }
    // Compared where it matters: at the host time of the report, which is what readers ask for
    // now (a report is made before its block is heard).
    const double reported = position + (hostNow - heardAt);
    const double current = eval(line_, hostNow);
    const double error = reported - current;
    double taken = error;
    if (!exact && std::abs(error) <= kSnapSeconds) {
        taken = error * kGain;
    }
    Line next{hostNow, current + taken, -std::numeric_limits<double>::infinity()};
    if (taken < 0.0) {
        next.floor = current;  // hold rather than go back
    }
    write(next);
}

}  // namespace kestio::platform::audio
