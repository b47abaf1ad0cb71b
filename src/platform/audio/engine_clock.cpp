#include "platform/audio/engine_clock.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestio::platform::audio {

EngineClock::EngineClock(double hostNow, double startTime)
    : hostTime_(hostNow),
      time_(startTime),
      floor_(-std::numeric_limits<double>::infinity()),
      line_{hostNow, startTime, -std::numeric_limits<double>::infinity()} {}

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

double EngineClock::timeAt(double hostTime) const {
    return eval(read(), hostTime);
}

double EngineClock::hostTimeAt(double clockTime) const {
    const Line line = read();
    if (clockTime <= line.floor) {
        // The clock holds at its floor from the line's host time on: a time at or below it was
        // reached then or before.
        return line.hostTime - (line.floor - clockTime);
    }
    return line.hostTime + (clockTime - line.time);
}

void EngineClock::adjust(double position, double heardAt, double hostNow, bool exact) noexcept {
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
