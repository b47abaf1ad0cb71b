#include "output/channel_levels.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/pcm_buffer.h"

namespace kestio {

namespace {
// dBFS of a positive amplitude, no lower than the floor; the floor for anything else.
float toDecibels(float amplitude) {
    if (!(amplitude > 0.0f)) {
        return ChannelLevels::kSilenceDb;
    }
    return std::max(20.0f * std::log10(amplitude), ChannelLevels::kSilenceDb);
}
}  // namespace

ChannelLevels measureChannelLevels(const platform::audio::PcmBuffer& buffer) {
    ChannelLevels result;
    const uint32_t frames = buffer.frameLength();
    if (frames == 0 || buffer.format().interleaved) {
        return result;
    }
    const auto channels = std::min<std::size_t>(buffer.channelCount(), ChannelLevels::kChannels);
    for (std::size_t c = 0; c < channels; ++c) {
        const float* samples = buffer.channel(uint32_t(c));
        float sumOfSquares = 0.0f;
        float largest = 0.0f;
        for (uint32_t n = 0; n < frames; ++n) {
            sumOfSquares += samples[n] * samples[n];
            largest = std::max(largest, std::fabs(samples[n]));
        }
        const float rms = std::sqrt(sumOfSquares / float(frames));
        result.levels[c] = toDecibels(rms);
        result.peaks[c] = toDecibels(largest);
    }
    return result;
}

}  // namespace kestio
