#pragma once

#include <atomic>
#include <cstdint>

#include "platform/audio/spsc_queue.h"

namespace kestio::platform::audio {

// The gain a mixer applies where a chain enters it. The main thread sets it in one step or asks
// for a ramp: from whatever the gain is at an engine clock time T, straight to a target over a
// duration. The render thread works out the gain of every frame, so a ramp begins on the frame
// heard at T wherever it falls within a block.
//
// Requests take effect in the order of their start times. A step cancels every ramp asked for
// before it (it is the newest word on the gain); ramps asked for after it follow. The render
// thread takes requests between blocks, without locks or allocation: steps through one atomic
// word, ramps through a single-producer queue.
class MixingGain {
  public:
    // Ramps waiting for their start time at once; further ones wait in the queue.
    static constexpr uint32_t kPendingRamps = 16;

    explicit MixingGain(float initial = 1.0f);
    MixingGain(const MixingGain&) = delete;
    MixingGain& operator=(const MixingGain&) = delete;

    // Main thread. A gain above 1 boosts; a negative one, or one not finite, is 0.
    // Sets the gain from the next block rendered.
    void set(float value);
    // Moves the gain from its value at engine clock time `atClockTime` (NaN: the next block) to
    // `target` over `seconds`, in a straight line. A time already past puts the ramp where it
    // would be by now. When too many ramps wait to be taken (an engine that does not run), the
    // gain is set to `target` instead.
    void ramp(float target, double seconds, double atClockTime);
    // The target of the newest request; any thread.
    float target() const { return target_.load(std::memory_order_relaxed); }

    // Render thread: the gain of each of `frames` frames, the first heard at engine position
    // `start`, at `rate` frames per second. Fills `gains` unless the gain holds over the block:
    // then it returns true and `constant` is the value.
    bool render(double start, double rate, uint32_t frames, float* gains, float& constant) noexcept;

  private:
    struct Ramp {
        double start = 0.0;  // engine clock time of the frame the ramp starts on; NaN: at once
        double seconds = 0.0;
        float target = 1.0f;
        uint32_t serial = 0;
    };

    // The gain `at` frames into the block beginning at engine position `blockStart`.
    float valueAt(double blockStart, double rate, double at) const noexcept;
    void takeRequests() noexcept;

    // Main thread.
    uint32_t serial_ = 0;
    std::atomic<float> target_;
    // The newest step: its serial in the high half, its value's bits in the low half.
    std::atomic<uint64_t> step_;
    SpscQueue<Ramp> requests_{64};

    // Render thread: the ramp in force (a step is a ramp of no duration), the ramps waiting for
    // their time, in start order, and the serial of the step taken last.
    Ramp current_;
    float from_ = 1.0f;
    Ramp pending_[kPendingRamps];
    uint32_t pendingCount_ = 0;
    uint32_t stepSerial_ = 0;
};

}  // namespace kestio::platform::audio
