#include "platform/audio/output_samples.h"

#include <cstddef>

namespace kestio::platform::audio {

void interleaveClipped(const float* const* planes, uint32_t channels, uint32_t frames,
                       float* out) noexcept {
    for (uint32_t c = 0; c < channels; ++c) {
        const float* plane = planes[c];
        float* to = out + c;
        for (uint32_t i = 0; i < frames; ++i) {
            to[std::size_t(i) * channels] = clipToFullScale(plane[i]);
        }
    }
}

}  // namespace kestio::platform::audio
