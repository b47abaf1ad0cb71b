#include "playback/clip_engine_format.h"

#include <cmath>
#include <cstdint>

#include "output/output_surface.h"

namespace kestio {

void applyClipEngineFormat(output::OutputSurface& surface, const SlotData& data) {
    if (!data.clipInfo || data.clipInfo->channels <= 0) {
        return;
    }
    const auto channels = data.clipInfo->channels;
    const uint32_t count = channels >= 8 ? 8 : channels < 3 ? 2 : uint32_t(channels);
    const double rate = std::isfinite(data.clipInfo->sampleRate) && data.clipInfo->sampleRate > 0
                            ? data.clipInfo->sampleRate
                            : 48000.0;
    surface.reconfigureAudioEngine(count, rate);
}

}  // namespace kestio
