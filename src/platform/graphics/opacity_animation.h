#pragma once

#include <cmath>

#include "platform/graphics/timing_function.h"

namespace kestio::platform {

// An explicit change of a layer's opacity over time. Once it has run its course it keeps
// showing `to` (it fills forwards and is not removed on completion) until it is removed.
struct OpacityAnimation {
    float from = 0.0f;
    float to = 1.0f;
    double duration = 0.0;  // seconds; zero, negative or not finite: at `to` at once
    TimingFunction timing = TimingFunction::easeInEaseOut();

    // The opacity `elapsed` seconds after the animation began.
    float valueAt(double elapsed) const;
    // True once `elapsed` has reached the end.
    bool hasEnded(double elapsed) const;
    bool runsInstantly() const { return !(duration > 0.0) || !std::isfinite(duration); }
};

// The opacity on screen at `time` of a layer with the model opacity `model` whose most recently
// added animation (null when none) began at `beginTime`. Layers and their snapshots both use
// this, so the picture drawn off the main thread matches the layer exactly.
float presentedOpacity(float model, const OpacityAnimation* latest, double beginTime, double time);

}  // namespace kestio::platform
