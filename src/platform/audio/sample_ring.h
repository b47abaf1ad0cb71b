#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace kestio::platform::audio {

// Up to kChannels planes of float samples handed from one writer thread to one reader thread
// without locks. Positions are frame indices that only grow; the ring holds the frames between
// readIndex() and writeIndex().
class SampleRing {
  public:
    static constexpr uint32_t kChannels = 8;

    // `capacityFrames` must be a power of two.
    explicit SampleRing(uint32_t capacityFrames);
    SampleRing(const SampleRing&) = delete;
    SampleRing& operator=(const SampleRing&) = delete;

    uint32_t capacity() const { return capacity_; }
    uint64_t writeIndex() const { return writeIndex_.load(std::memory_order_acquire); }
    uint64_t readIndex() const { return readIndex_.load(std::memory_order_acquire); }
    // Writer side: frames that can be written now.
    uint32_t freeFrames() const { return uint32_t(capacity_ - (writeIndex() - readIndex())); }

    // Writer side: copies `frames` frames of `channels` planes (at most kChannels) to the
    // write position, then publishes them.
    void write(const float* const* source, uint32_t channels, uint32_t frames,
               uint32_t sourceOffset = 0) noexcept;
    // Writer side: the same from interleaved samples with `stride` floats per frame.
    void writeInterleaved(const float* source, uint32_t stride, uint32_t channels,
                          uint32_t frames) noexcept;

    // Reader side: copies `frames` frames of channel `channel` starting at index `at` into
    // `out`. The caller makes sure they are in the ring.
    void copyOut(uint32_t channel, uint64_t at, float* out, uint32_t frames) const noexcept;
    // Reader side: releases every frame before `index`.
    void setReadIndex(uint64_t index) noexcept {
        readIndex_.store(index, std::memory_order_release);
    }

  private:
    uint32_t capacity_;
    uint32_t mask_;
    std::unique_ptr<float[]> samples_;
    alignas(64) std::atomic<uint64_t> writeIndex_{0};
    alignas(64) std::atomic<uint64_t> readIndex_{0};
};

}  // namespace kestio::platform::audio
