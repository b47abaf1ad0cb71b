#include "platform/audio/output_samples.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace kestio::platform::audio {

void interleaveClipped(const float* const* planes, uint32_t channels, uint32_t frames,
                       float* out) noexcept {
    for (uint32_t c = 0; c < channels; ++c) {
        const float* plane = planes[c];
        float* to = out + c;
        for (uint32_t i = 0; i < frames; ++i) {
            const float v = plane[i];
            to[std::size_t(i) * channels] = std::isnan(v) ? 0.0f : std::clamp(v, -1.0f, 1.0f);
        }
    }
}

}  // namespace kestio::platform::audio
