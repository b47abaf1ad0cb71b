#include "panels/timeline_scale.h"

#include <algorithm>
#include <cmath>

namespace kestio::panels {

namespace {

double within01(double value) {
    if (std::isnan(value)) {
        return 0.0;
    }
    return std::clamp(value, 0.0, 1.0);
}

}  // namespace

std::optional<double> TimelineScale::timeAt(double x, double width) const {
    if (!(width > 0) || !std::isfinite(width) || std::isnan(x)) {
        return std::nullopt;
    }
    return within01(x / width) * span;
}

TimelineScale timelineScale(double duration, double currentTime, std::optional<double> inPoint,
                            std::optional<double> outPoint) {
    TimelineScale scale;
    // A duration that is not a number (nothing measured yet) counts as none.
    scale.span =
        std::isfinite(duration) ? std::max(duration, kTimelineMinimumSpan) : kTimelineMinimumSpan;
    scale.inFraction = inPoint.value_or(0.0) / scale.span;
    scale.outFraction = outPoint.value_or(scale.span) / scale.span;
    scale.played = within01(currentTime / scale.span);
    scale.showInMark = inPoint.has_value() && scale.inFraction > kTimelineInMarkThreshold;
    scale.showOutMark = outPoint.has_value() && scale.outFraction < kTimelineOutMarkThreshold;
    return scale;
}

bool drawsWaveform(const std::optional<std::vector<float>>& waveform) {
    return waveform && std::any_of(waveform->begin(), waveform->end(),
                                   [](float v) { return v > kTimelineWaveformFloor; });
}

}  // namespace kestio::panels
