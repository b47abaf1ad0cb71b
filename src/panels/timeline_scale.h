#pragma once

#include <optional>
#include <vector>

namespace kestio::panels {

// What the timeline bar draws, worked out from the published values at each redraw.
struct TimelineScale {
    // The seconds the bar's width stands for: the clip's duration, at least one second.
    double span = 1.0;
    double inFraction = 0.0;   // the in point (0 without one) over the span
    double outFraction = 1.0;  // the out point (the span without one) over the span
    double played = 0.0;       // the position over the span, within 0 to 1
    bool showInMark = false;   // an in point past the very start
    bool showOutMark = false;  // an out point short of the very end

    // The time under a pointer at `x` on a bar `width` wide: the fraction of the width (within
    // 0 to 1) of the span. None on a bar without width.
    std::optional<double> timeAt(double x, double width) const;
};

// Minimum span and the thresholds below which the marks are left out.
inline constexpr double kTimelineMinimumSpan = 1.0;
inline constexpr double kTimelineInMarkThreshold = 0.001;
inline constexpr double kTimelineOutMarkThreshold = 0.999;
// A waveform whose every peak is at most this is drawn as the plain bar.
inline constexpr float kTimelineWaveformFloor = 0.02f;

TimelineScale timelineScale(double duration, double currentTime, std::optional<double> inPoint,
                            std::optional<double> outPoint);

// Whether the waveform is worth drawing: present, with at least one peak above the floor.
bool drawsWaveform(const std::optional<std::vector<float>>& waveform);

}  // namespace kestio::panels
