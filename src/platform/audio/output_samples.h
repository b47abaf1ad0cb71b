#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestio::platform::audio {

// A float sample clipped to full scale (-1...1); one that is not a number is silence.
inline float clipToFullScale(float sample) {
    return std::isnan(sample) ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
}

// Interleaves `frames` frames of `channels` float planes into `out` for the sound server,
// clipped to full scale: the mix is float and may go above 1 (a level above 0 dB), which is
// heard as clipping, never as a wrapped or undefined sample. A sample that is not a number
// becomes silence. No allocation; safe on the render thread.
void interleaveClipped(const float* const* planes, uint32_t channels, uint32_t frames,
                       float* out) noexcept;

}  // namespace kestio::platform::audio
