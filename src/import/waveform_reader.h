#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "import/import_workers.h"

namespace kestio {

struct WaveformReading {
    std::optional<std::vector<float>> points;
    // Sample frames decoded before the points were complete: 0 when not a single frame of
    // sound could be decoded (a header without data, say), or when the sound holds data its
    // decoder refuses, at which the player's reader would stop.
    std::int64_t framesDecoded = 0;
};

// The waveform of the first audio track of a file: `pointCount` peaks between 0 and 1, in
// time order (see WaveformAccumulator). The stretch of each point follows from the file's
// stated duration and the track's sample rate (48000 when the track states none). A mono
// track counts in both channels at full level; more channels are downmixed to two, the centre
// and surrounds at -3 dB and the LFE left out.
//
// None when the file has no audio track that can be decoded, or its duration is unknown, not
// finite or not above 0. Decoding stops as soon as the points are made. Blocking: call it on
// a worker.
WaveformReading readWaveform(const std::filesystem::path& file, int pointCount,
                             JobControl& control);

}  // namespace kestio
