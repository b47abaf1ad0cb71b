#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "import/import_workers.h"

namespace kestio {

// The waveform of the first audio track of a file: `pointCount` peaks between 0 and 1, in
// time order (see WaveformAccumulator). The stretch of each point follows from the file's
// stated duration and the track's sample rate (48000 when the track states none). A mono
// track counts in both channels at full level; of more channels the first two count.
//
// None when the file has no audio track that can be decoded, or its duration is unknown, not
// finite or not above 0. Decoding stops as soon as the points are made. Blocking: call it on
// a worker.
std::optional<std::vector<float>> readWaveform(const std::filesystem::path& file, int pointCount,
                                               JobControl& control);

}  // namespace kestio
