#include "platform/audio/channel_map.h"

#include <cstring>

namespace kestio::platform::audio {

ChannelMap defaultChannelMap(uint32_t sourceChannels, uint32_t outputChannels) {
    ChannelMap map(outputChannels, -1);
    for (uint32_t c = 0; c < outputChannels && c < sourceChannels; ++c) {
        map[c] = int(c);
    }
    if (sourceChannels == 1 && outputChannels >= 2) {
        map[1] = 0;
    }
    return map;
}

void applyChannelMap(const int* map, uint32_t outputChannels, const float* const* source,
                     uint32_t sourceChannels, float* const* output, uint32_t frames,
                     uint32_t sourceOffset, uint32_t outputOffset) noexcept {
    for (uint32_t c = 0; c < outputChannels; ++c) {
        float* out = output[c] + outputOffset;
        const int from = map[c];
        if (from >= 0 && uint32_t(from) < sourceChannels) {
            std::memcpy(out, source[from] + sourceOffset, frames * sizeof(float));
        } else {
            std::memset(out, 0, frames * sizeof(float));
        }
    }
}

}  // namespace kestio::platform::audio
