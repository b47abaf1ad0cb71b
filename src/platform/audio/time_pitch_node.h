#pragma once

#include <memory>

#include "platform/audio/audio_node.h"

namespace kestio::platform::audio {

struct TimePitchRequest;  // the rate asked for, as the render thread reads it

// Changes the tempo of what passes through without changing its pitch (Rubber Band R3 engine,
// real-time mode, short window). At a rate of exactly 1 the node passes its input through
// untouched and adds no delay; when it leaves rate 1 it restarts the stretcher and removes the
// stretcher's start delay, so the output stays in step with the input. When it comes back to
// rate 1, what the stretcher holds still comes out (pushed through at rate 1), and its end is
// crossfaded into the input where the two agree best, so no sound is lost and nothing clicks;
// the input passes through untouched after that. The node pulls rate × as many input frames as
// it renders. Its input and output links carry one format.
class TimePitchNode final : public AudioNode {
  public:
    static constexpr float kMinRate = 1.0f / 32.0f;
    static constexpr float kMaxRate = 32.0f;
    // Input frames the stretcher takes per step.
    static constexpr uint32_t kBlockFrames = 512;

    TimePitchNode();

    // The playback rate: 2 plays twice as fast. Clamped to [kMinRate, kMaxRate]; applies from
    // the next block. Also primes a spare stretcher here, on the main thread (about a
    // millisecond of work at rates up to 8): it runs the spare through the silent input a
    // start takes in before its first output, so that leaving rate 1 before the sound arrives
    // (a clip whose rate is set before it starts) costs the render thread no more than a
    // steady block: the input pulled up to the end of the start delay (at 48 kHz about 45 ms
    // of output at 1.25, 40 ms at 2, 90 ms at 0.5) must still be silent. Leaving rate 1 while
    // sound comes in does that start-up work (about three stretcher steps) on the render
    // thread, in the block where it happens.
    void setRate(float rate);
    // The same from the sample heard at the engine clock's time `atClockTime` (see
    // AudioEngine::clock()), wherever it falls within a block, so that the sound changes pace
    // with pictures changed at that clock time. A time already past (or NaN) applies from the
    // next block. A change still waiting for its time is replaced by the next one asked for.
    void setRate(float rate, double atClockTime);
    // The rate last asked for.
    float rate() const;

  private:
    uint32_t inputBusCount() const override { return 1; }
    std::shared_ptr<RenderKernel> makeKernel(const KernelSetup& setup) override;
    uint32_t maxInputFrames(const KernelSetup& setup) const override;

    std::shared_ptr<TimePitchRequest> request_;  // shared with the render thread
    std::weak_ptr<RenderKernel> kernel_;         // the newest, whose spare stretcher setRate primes
};

}  // namespace kestio::platform::audio
