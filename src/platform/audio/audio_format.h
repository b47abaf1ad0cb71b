#pragma once

#include <cstdint>
#include <optional>

namespace kestio::platform::audio {

// The shape of a stream of 32-bit float samples: rate, channel count and whether the channels
// are interleaved in one buffer or kept in one buffer per channel. Everything the engine
// renders is non-interleaved.
struct AudioFormat {
    static constexpr uint32_t kMaxChannels = 64;
    static constexpr double kMinSampleRate = 1000.0;
    static constexpr double kMaxSampleRate = 768000.0;

    double sampleRate = 48000.0;
    uint32_t channelCount = 2;
    bool interleaved = false;

    // A format with the given rate and channel count, or nothing when the rate is not a
    // finite number within [kMinSampleRate, kMaxSampleRate] or the channel count is not
    // within [1, kMaxChannels].
    static std::optional<AudioFormat> make(double sampleRate, uint32_t channelCount,
                                           bool interleaved = false);

    bool isValid() const;
    // Rate and channel count are equal (the layout may differ).
    bool sameStream(const AudioFormat& other) const {
        return sampleRate == other.sampleRate && channelCount == other.channelCount;
    }
    bool operator==(const AudioFormat&) const = default;
};

}  // namespace kestio::platform::audio
