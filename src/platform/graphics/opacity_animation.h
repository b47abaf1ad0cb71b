#pragma once

#include <cmath>
#include <optional>

#include "platform/graphics/timing_function.h"
#include "platform/runloop/media_clock.h"

namespace kestio::platform {

// An explicit change of a layer's opacity over time. Before its begin time it shows `from`;
// once it has run its course it keeps showing `to` (it fills forwards and is not removed on
// completion) until it is removed.
struct OpacityAnimation {
    float from = 0.0f;
    float to = 1.0f;
    double duration = 0.0;  // seconds; zero, negative or not finite: at `to` at once
    TimingFunction timing = TimingFunction::easeInEaseOut();
    // When it begins, in host time (the run loop's clock); empty: when it is added to a layer.
    // A begin time in the past starts it part-way through.
    std::optional<HostTime> beginTime = std::nullopt;

    // Begins when `clock` reads `clockTime`: a dissolve that starts exactly with a clip started
    // at that time of its media clock. The time is mapped to host time now; the animation then
    // runs on host time (over a fade, the drift between the two clocks is far below a frame).
    void beginAtClockTime(const MediaClock& clock, ClockTime clockTime) {
        beginTime = clock.hostTimeAt(clockTime);
    }

    // The opacity `elapsed` seconds after the animation began (`from` while negative).
    float valueAt(double elapsed) const;
    // True once `elapsed` has reached the end.
    bool hasEnded(double elapsed) const;
    bool runsInstantly() const { return !(duration > 0.0) || !std::isfinite(duration); }
};

// The opacity on screen at `time` of a layer with the model opacity `model` whose most recently
// added animation (null when none) began at `beginTime`. Layers and their snapshots both use
// this, so the picture drawn off the main thread matches the layer exactly.
float presentedOpacity(float model, const OpacityAnimation* latest, HostTime beginTime,
                       HostTime time);

}  // namespace kestio::platform
