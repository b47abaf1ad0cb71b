#include "import/waveform_accumulator.h"

#include <algorithm>
#include <cmath>

namespace kestio {

WaveformAccumulator::WaveformAccumulator(int pointCount, std::int64_t mediaFrames)
    : pointCount_(std::max(1, pointCount)),
      step_(std::max<std::int64_t>(1, std::max<std::int64_t>(0, mediaFrames) / pointCount_)) {
    points_.reserve(static_cast<std::size_t>(pointCount_));
}

bool WaveformAccumulator::addInterleavedStereo(const float* samples, std::size_t sampleCount) {
    for (std::size_t i = 0; i < sampleCount; i += 2) {
        float magnitude = std::fabs(samples[i]);
        if (i + 1 < sampleCount) {
            magnitude = std::max(magnitude, std::fabs(samples[i + 1]));
        }
        if (addFrame(magnitude)) {
            return true;
        }
    }
    return complete();
}

std::vector<float> WaveformAccumulator::finish() && {
    points_.resize(static_cast<std::size_t>(pointCount_), 0.0f);
    return std::move(points_);
}

}  // namespace kestio
