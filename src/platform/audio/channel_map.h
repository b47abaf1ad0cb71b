#pragma once

#include <cstdint>
#include <vector>

namespace kestio::platform::audio {

// Which source channel feeds each output channel: one entry per output channel, holding a
// source channel index or -1 for silence.
using ChannelMap = std::vector<int>;

// Channel i goes to channel i, a mono source goes to the first two outputs at unity gain,
// source channels beyond the output are dropped and output channels without a source stay
// silent. The converter's starting map.
ChannelMap defaultChannelMap(uint32_t sourceChannels, uint32_t outputChannels);

// How much of each source channel goes into each output channel.
struct ChannelMix {
    uint32_t sourceChannels = 0;
    uint32_t outputChannels = 0;
    std::vector<float> gains;  // gains[output * sourceChannels + source]

    float gain(uint32_t output, uint32_t source) const {
        return gains[std::size_t(output) * sourceChannels + source];
    }
};

// The rule used wherever the engine changes a channel count. A source of more than two
// channels feeding fewer outputs is downmixed as the waveform reader does, by libswresample's
// own matrix for the usual layouts of both counts (6 channels: FL FR FC LFE BL BR): centre and
// surrounds at -3 dB, the LFE left out, nothing normalised away. Otherwise it is
// defaultChannelMap's rule at unity gain.
ChannelMix defaultChannelMix(uint32_t sourceChannels, uint32_t outputChannels);

// Writes `frames` frames of `mix` applied to `source` (mix.sourceChannels planes) into `output`
// (mix.outputChannels planes) from `outputOffset`. No allocation; safe on the render thread.
void applyChannelMix(const ChannelMix& mix, const float* const* source, float* const* output,
                     uint32_t frames, uint32_t outputOffset = 0) noexcept;

// Copies `frames` frames from `source` into `output` following `map` (entries outside the
// source's channels give silence). No allocation; safe on the render thread.
void applyChannelMap(const int* map, uint32_t outputChannels, const float* const* source,
                     uint32_t sourceChannels, float* const* output, uint32_t frames,
                     uint32_t sourceOffset = 0, uint32_t outputOffset = 0) noexcept;

}  // namespace kestio::platform::audio
