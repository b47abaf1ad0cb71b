#pragma once

#include <cstdint>
#include <cstring>

namespace kestio::platform::audio {

// How many leading frames of a kernel's output buffer are known to hold zeros, so that a kernel
// rendering silence block after block clears its buffer once rather than at every block.
// Render thread.
class ZeroedFrames {
  public:
    // Makes the first `frames` frames of every channel zeros, unless they already are.
    void clear(float* const* channels, uint32_t channelCount, uint32_t frames) noexcept {
        if (frames <= zeroed_) {
            return;
        }
        for (uint32_t c = 0; c < channelCount; ++c) {
            std::memset(channels[c], 0, frames * sizeof(float));
        }
        zeroed_ = frames;
    }
    // Something else was written into the buffer.
    void dirty() noexcept { zeroed_ = 0; }

  private:
    uint32_t zeroed_ = 0;
};

}  // namespace kestio::platform::audio
