#pragma once

#include <cstdint>

namespace kestio::platform::audio {

// Whether every sample of the first `frames` frames of `channels` is zero, so that the frames
// are heard as nothing (-0.0 counts as zero; NaN does not). Any thread; no allocation.
inline bool silentFrames(const float* const* channels, uint32_t channelCount,
                         uint32_t frames) noexcept {
    for (uint32_t c = 0; c < channelCount; ++c) {
        const float* samples = channels[c];
        for (uint32_t i = 0; i < frames; ++i) {
            if (samples[i] != 0.0f) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace kestio::platform::audio
