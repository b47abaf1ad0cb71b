#include "platform/audio/channel_map.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <climits>
#include <cmath>
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

ChannelMix defaultChannelMix(uint32_t sourceChannels, uint32_t outputChannels) {
    ChannelMix mix{sourceChannels, outputChannels,
                   std::vector<float>(std::size_t(sourceChannels) * outputChannels, 0.0f)};
    if (sourceChannels > 2 && sourceChannels > outputChannels && outputChannels > 0) {
        AVChannelLayout in{};
        AVChannelLayout out{};
        av_channel_layout_default(&in, int(sourceChannels));
        av_channel_layout_default(&out, int(outputChannels));
        // Room for the largest matrix libswresample may touch (it walks all of it when it
        // normalises), read back at the counts asked for.
        constexpr int kMaxChannels = 64;
        std::vector<double> matrix(std::size_t(kMaxChannels) * kMaxChannels, 0.0);
        // libswresample's defaults for float output: centre and surround levels of -3 dB, no
        // LFE, no normalisation (INT_MAX), unit volume.
        const int result =
            swr_build_matrix2(&in, &out, M_SQRT1_2, M_SQRT1_2, 0.0, double(INT_MAX), 1.0,
                              matrix.data(), kMaxChannels, AV_MATRIX_ENCODING_NONE, nullptr);
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        if (result >= 0) {
            for (uint32_t o = 0; o < outputChannels; ++o) {
                for (uint32_t i = 0; i < sourceChannels; ++i) {
                    mix.gains[std::size_t(o) * sourceChannels + i] =
                        float(matrix[std::size_t(o) * kMaxChannels + i]);
                }
            }
            return mix;
        }
    }
    const ChannelMap map = defaultChannelMap(sourceChannels, outputChannels);
    for (uint32_t o = 0; o < outputChannels; ++o) {
        if (map[o] >= 0) {
            mix.gains[std::size_t(o) * sourceChannels + uint32_t(map[o])] = 1.0f;
        }
    }
    return mix;
}

void applyChannelMix(const ChannelMix& mix, const float* const* source, float* const* output,
                     uint32_t frames, uint32_t outputOffset) noexcept {
    for (uint32_t o = 0; o < mix.outputChannels; ++o) {
        float* out = output[o] + outputOffset;
        bool written = false;
        for (uint32_t s = 0; s < mix.sourceChannels; ++s) {
            const float g = mix.gain(o, s);
            if (g == 0.0f) {
                continue;
            }
            const float* in = source[s];
            if (written) {
                for (uint32_t i = 0; i < frames; ++i) {
                    out[i] += g * in[i];
                }
            } else if (g == 1.0f) {
                std::memcpy(out, in, frames * sizeof(float));
            } else {
                for (uint32_t i = 0; i < frames; ++i) {
                    out[i] = g * in[i];
                }
            }
            written = true;
        }
        if (!written) {
            std::memset(out, 0, frames * sizeof(float));
        }
    }
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
