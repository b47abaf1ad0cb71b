#include "platform/audio/render_step.h"

#include <utility>

#include "platform/audio/tap_ring.h"

namespace kestio::platform::audio {

const float* const* RenderStep::pull(uint32_t frames) const noexcept {
    if (prepared_ != nullptr) {
        return std::exchange(prepared_, nullptr);
    }
    silent_ = false;
    const float* const* out = kernel->render(*this, frames);
    if (tap != nullptr) {
        if (silent_) {
            tap->writeSilence(format.channelCount, frames, format.sampleRate);
        } else {
            tap->write(out, format.channelCount, frames, format.sampleRate);
        }
    }
    return out;
}

}  // namespace kestio::platform::audio
