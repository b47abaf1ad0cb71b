#pragma once

#include <cstdint>
#include <vector>

namespace kestio::platform::audio {

// Which source channel feeds each output channel: one entry per output channel, holding a
// source channel index or -1 for silence.
using ChannelMap = std::vector<int>;

// The rule used wherever the engine changes a channel count: channel i goes to channel i, a
// mono source goes to the first two outputs at unity gain, source channels beyond the output
// are dropped and output channels without a source stay silent.
ChannelMap defaultChannelMap(uint32_t sourceChannels, uint32_t outputChannels);

// Copies `frames` frames from `source` into `output` following `map` (entries outside the
// source's channels give silence). No allocation; safe on the render thread.
void applyChannelMap(const int* map, uint32_t outputChannels, const float* const* source,
                     uint32_t sourceChannels, float* const* output, uint32_t frames,
                     uint32_t sourceOffset = 0, uint32_t outputOffset = 0) noexcept;

}  // namespace kestio::platform::audio
