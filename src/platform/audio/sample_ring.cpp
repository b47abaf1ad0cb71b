#include "platform/audio/sample_ring.h"

#include <algorithm>
#include <cstring>

namespace kestio::platform::audio {

SampleRing::SampleRing(uint32_t capacityFrames)
    : capacity_(capacityFrames),
      mask_(capacityFrames - 1),
      samples_(std::make_unique<float[]>(std::size_t(kChannels) * capacityFrames)) {}

void SampleRing::write(const float* const* source, uint32_t channels, uint32_t frames,
                       uint32_t sourceOffset) noexcept {
    const uint64_t at = writeIndex_.load(std::memory_order_relaxed);
    const uint32_t offset = uint32_t(at & mask_);
    const uint32_t first = std::min(frames, capacity_ - offset);
    for (uint32_t c = 0; c < std::min(channels, kChannels); ++c) {
        float* plane = samples_.get() + std::size_t(c) * capacity_;
        std::memcpy(plane + offset, source[c] + sourceOffset, first * sizeof(float));
        std::memcpy(plane, source[c] + sourceOffset + first, (frames - first) * sizeof(float));
    }
    writeIndex_.store(at + frames, std::memory_order_release);
}

void SampleRing::writeInterleaved(const float* source, uint32_t stride, uint32_t channels,
                                  uint32_t frames) noexcept {
    const uint64_t at = writeIndex_.load(std::memory_order_relaxed);
    for (uint32_t c = 0; c < std::min(channels, kChannels); ++c) {
        float* plane = samples_.get() + std::size_t(c) * capacity_;
        for (uint32_t i = 0; i < frames; ++i) {
            plane[(at + i) & mask_] = source[std::size_t(i) * stride + c];
        }
    }
    writeIndex_.store(at + frames, std::memory_order_release);
}

void SampleRing::copyOut(uint32_t channel, uint64_t at, float* out,
                         uint32_t frames) const noexcept {
    const float* plane = samples_.get() + std::size_t(channel) * capacity_;
    const uint32_t offset = uint32_t(at & mask_);
    const uint32_t first = std::min(frames, capacity_ - offset);
    std::memcpy(out, plane + offset, first * sizeof(float));
    std::memcpy(out + first, plane, (frames - first) * sizeof(float));
}

}  // namespace kestio::platform::audio
