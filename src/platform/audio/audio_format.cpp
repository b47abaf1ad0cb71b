#include "platform/audio/audio_format.h"

#include <cmath>

namespace kestio::platform::audio {

std::optional<AudioFormat> AudioFormat::make(double sampleRate, uint32_t channelCount,
                                             bool interleaved) {
    AudioFormat format{sampleRate, channelCount, interleaved};
    if (!format.isValid()) {
        return std::nullopt;
    }
    return format;
}

bool AudioFormat::isValid() const {
    return std::isfinite(sampleRate) && sampleRate >= kMinSampleRate &&
           sampleRate <= kMaxSampleRate && channelCount >= 1 && channelCount <= kMaxChannels;
}

}  // namespace kestio::platform::audio
