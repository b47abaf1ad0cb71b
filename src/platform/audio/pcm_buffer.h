#pragma once

#include <cstdint>
#include <memory>

#include "platform/audio/audio_format.h"

namespace kestio::platform::audio {

// A block of float samples in memory: a format, a capacity in frames and the number of frames
// that hold audio. A non-interleaved buffer keeps one array per channel (channel(c)); an
// interleaved one keeps every channel in one array (interleavedData()).
class PcmBuffer {
  public:
    // A zero-filled buffer, or null when the format is invalid or the memory cannot be had.
    static std::shared_ptr<PcmBuffer> make(const AudioFormat& format, uint32_t frameCapacity);

    PcmBuffer(const PcmBuffer&) = delete;
    PcmBuffer& operator=(const PcmBuffer&) = delete;

    const AudioFormat& format() const { return format_; }
    uint32_t channelCount() const { return format_.channelCount; }
    uint32_t frameCapacity() const { return capacity_; }
    uint32_t frameLength() const { return length_; }
    // Clamped to the capacity.
    void setFrameLength(uint32_t frames) { length_ = frames < capacity_ ? frames : capacity_; }

    // The samples of one channel of a non-interleaved buffer (null for an interleaved one).
    float* channel(uint32_t c) {
        return format_.interleaved ? nullptr : samples_.get() + std::size_t(c) * capacity_;
    }
    const float* channel(uint32_t c) const {
        return format_.interleaved ? nullptr : samples_.get() + std::size_t(c) * capacity_;
    }
    // Per-channel pointers of a non-interleaved buffer, in channel order.
    float* const* channels() { return channelPointers_.get(); }
    const float* const* channels() const { return channelPointers_.get(); }
    // All samples of an interleaved buffer (null for a non-interleaved one).
    float* interleavedData() { return format_.interleaved ? samples_.get() : nullptr; }
    const float* interleavedData() const { return format_.interleaved ? samples_.get() : nullptr; }

  private:
    PcmBuffer(const AudioFormat& format, uint32_t capacity, std::unique_ptr<float[]> samples,
              std::unique_ptr<float*[]> pointers);

    AudioFormat format_;
    uint32_t capacity_;
    uint32_t length_ = 0;
    std::unique_ptr<float[]> samples_;
    std::unique_ptr<float*[]> channelPointers_;
};

}  // namespace kestio::platform::audio
