#include "platform/audio/pcm_buffer.h"

#include <new>

namespace kestio::platform::audio {

namespace {
// Buffers larger than this (in samples, all channels) are refused rather than attempted.
constexpr std::size_t kMaxSamples = std::size_t(1) << 34;
}  // namespace

PcmBuffer::PcmBuffer(const AudioFormat& format, uint32_t capacity, std::unique_ptr<float[]> samples,
                     std::unique_ptr<float*[]> pointers)
    : format_(format),
      capacity_(capacity),
      samples_(std::move(samples)),
      channelPointers_(std::move(pointers)) {}

std::shared_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat& format, uint32_t frameCapacity) {
    if (!format.isValid()) {
        return nullptr;
    }
    const std::size_t count = std::size_t(frameCapacity) * format.channelCount;
    if (count > kMaxSamples) {
        return nullptr;
    }
    // One extra sample keeps the pointers valid for a zero-capacity buffer.
    std::unique_ptr<float[]> samples(new (std::nothrow) float[count + 1]());
    std::unique_ptr<float*[]> pointers(new (std::nothrow) float*[format.channelCount]());
    if (!samples || !pointers) {
        return nullptr;
    }
    for (uint32_t c = 0; c < format.channelCount; ++c) {
        pointers[c] =
            format.interleaved ? samples.get() : samples.get() + std::size_t(c) * frameCapacity;
    }
    return std::shared_ptr<PcmBuffer>(
        new PcmBuffer(format, frameCapacity, std::move(samples), std::move(pointers)));
}

}  // namespace kestio::platform::audio
