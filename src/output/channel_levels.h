#pragma once

#include <array>
#include <cstddef>

namespace kestio::platform::audio {
class PcmBuffer;
}

namespace kestio {

// The level of each of the first eight channels of a block of sound, in dBFS: RMS and peak.
// kSilenceDb stands for silence or no measurement (never minus infinity) and is the floor.
struct ChannelLevels {
    static constexpr std::size_t kChannels = 8;
    static constexpr float kSilenceDb = -100.0f;

    std::array<float, kChannels> levels;
    std::array<float, kChannels> peaks;

    ChannelLevels() {
        levels.fill(kSilenceDb);
        peaks.fill(kSilenceDb);
    }
    bool operator==(const ChannelLevels&) const = default;
};

// Measures a non-interleaved buffer in one pass over at most eight channels, in single
// precision. Channels beyond the eighth are not measured; channels the buffer lacks, an empty
// buffer and an interleaved one give kSilenceDb.
ChannelLevels measureChannelLevels(const platform::audio::PcmBuffer& buffer);

}  // namespace kestio
