#include "import/waveform_reader.h"

#include <cmath>

#include "import/waveform_accumulator.h"
#include "platform/media/asset_reader.h"

namespace kestio {

namespace media = platform::media;

WaveformReading readWaveform(const std::filesystem::path& file, int pointCount,
                             JobControl& control) {
    if (pointCount < 1 || control.cancelled()) {
        return {};
    }
    // 32-bit float, two channels interleaved, at the track's own rate (48000 when it states
    // none); a mono track reaches both channels at full level.
    auto opened = media::AssetReader::open(file, {.sampleRate = 0.0, .channels = 2});
    if (!opened) {
        return {};
    }
    media::AssetReader& reader = **opened;
    const double seconds = reader.duration();
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        return {};
    }
    const double mediaFrames = std::trunc(reader.sampleRate() * seconds);
    // A stated length beyond any real recording (thousands of years) is a broken header.
    if (!(mediaFrames < 9.0e15)) {
        return {};
    }
    const auto stopHook = control.onCancel([&reader] { reader.cancelReading(); });
    WaveformAccumulator points(pointCount, static_cast<std::int64_t>(mediaFrames));
    std::int64_t framesDecoded = 0;
    while (auto buffer = reader.copyNextSampleBuffer()) {
        framesDecoded += buffer->frameCount;
        if (points.addInterleavedStereo(buffer->samples.data(), buffer->samples.size())) {
            reader.cancelReading();
            break;
        }
    }
    if (reader.status() == media::AssetReader::Status::Cancelled && !points.complete()) {
        return {};
    }
    // Sound the player's reader would stop at part way is no sound to play.
    if (reader.status() == media::AssetReader::Status::Failed) {
        return {};
    }
    return {std::move(points).finish(), framesDecoded};
}

}  // namespace kestio
