#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kestio::platform::audio {

// Carries copies of rendered blocks from the render thread (the only writer) to the tap
// thread (the only reader) without locks. Each block keeps its own rate and channel count, so
// a format change on the way is seen exactly where it happens. A run of silent blocks goes as
// one block without samples: the reader learns that the sound stopped, and nothing more until
// it starts again.
class TapRing {
  public:
    struct BlockHeader {
        uint32_t frames = 0;
        uint32_t channels = 0;
        double sampleRate = 0.0;
        bool silent = false;  // no samples follow: the block, and what came after it, is zeros
    };

    explicit TapRing(std::size_t capacityBytes = std::size_t(1) << 21);
    TapRing(const TapRing&) = delete;
    TapRing& operator=(const TapRing&) = delete;

    // Render thread. Copies one block; when there is no room the block is dropped and the
    // reader is told of the gap.
    void write(const float* const* channels, uint32_t channelCount, uint32_t frames,
               double sampleRate) noexcept;
    // Render thread. A block of zeros: written as a silent block when it starts a run of
    // silence, else dropped (without a gap).
    void writeSilence(uint32_t channelCount, uint32_t frames, double sampleRate) noexcept;

    // Tap thread. The next block: its header, and its samples channel after channel in
    // `samples` (resized; emptied for a silent block). False when there is none.
    bool read(BlockHeader& header, std::vector<float>& samples);
    // Tap thread. True once after blocks were dropped.
    bool takeGap() { return gap_.exchange(false, std::memory_order_acq_rel); }

  private:
    bool put(const BlockHeader& header, const float* const* channels) noexcept;
    void copyIn(std::size_t at, const void* from, std::size_t bytes) noexcept;
    void copyOut(std::size_t at, void* to, std::size_t bytes) const;

    std::size_t capacity_;
    std::unique_ptr<unsigned char[]> bytes_;
    alignas(64) std::atomic<std::size_t> writeIndex_{0};
    alignas(64) std::atomic<std::size_t> readIndex_{0};
    std::atomic<bool> gap_{false};
    bool inSilence_ = false;  // render thread: the last block written was silent
};

}  // namespace kestio::platform::audio
