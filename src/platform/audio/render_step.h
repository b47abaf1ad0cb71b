#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "platform/audio/audio_format.h"

namespace kestio::platform::audio {

class MixingGain;
class RenderStep;
class TapRing;

// A node's processing on the render thread, prepared on the main thread for one link format
// and one largest block. render() never allocates, locks, logs or touches files.
class RenderKernel {
  public:
    virtual ~RenderKernel() = default;
    // Renders `frames` frames (at most the largest block the kernel was made for), pulling its
    // inputs through `step`, and returns one pointer per output channel. The samples stay
    // valid until the kernel renders again.
    virtual const float* const* render(const RenderStep& step, uint32_t frames) noexcept = 0;
};

// Where the engine is in time while it renders: the engine position (the engine clock's time,
// in seconds) at which the first frame of the part being pulled is heard, and how fast the
// frames of the part go by. Written by the engine on the render thread before every part, read
// by kernels during it. A node that changes the time line of what it pulls (the time-pitch
// node) sets it around each pull of its input, with a part of its own, and puts it back after.
struct RenderTime {
    double start = 0.0;     // engine position of the part's first frame
    double pace = 1.0;      // seconds of the link per second heard
    uint64_t part = 0;      // changes with every part
    uint64_t lastPart = 0;  // the newest part number given out
    uint64_t newPart() noexcept { return ++lastPart; }
};

// A node's place in one render plan: its kernel, the steps it pulls from, its tap and the
// gain a mixer applies to it. Built on the main thread, then only read on the render thread,
// except for the silent mark of the last pull and an output rendered ahead, which belong to
// the thread rendering the step in that block (the render thread or one of its helpers).
class RenderStep {
  public:
    RenderKernel* kernel = nullptr;
    std::span<RenderStep* const> inputs;
    AudioFormat format;  // of the step's output
    TapRing* tap = nullptr;
    MixingGain* gain = nullptr;  // the render thread advances its ramps
    // The engine's for the main mixer; each chain entering the main mixer has its own copy,
    // which its steps share, so that chains may render on different threads.
    RenderTime* time = nullptr;

    // Renders the step and hands a copy of its output to its tap (of a silent output, only
    // that it is silent). After prepare(), returns the output prepared instead.
    const float* const* pull(uint32_t frames) const noexcept;
    // Renders the step now, as pull() would, for the next pull() of the same number of frames
    // to return: the chains a mixer sums render side by side on several threads, then the
    // mixer pulls their outputs in order on its own.
    void prepare(uint32_t frames) const noexcept { prepared_ = pull(frames); }

    // Whether the output of the last pull is all zeros because nothing upstream sounds. A
    // kernel that knows its output is such silence marks it during render(); nodes that pass or
    // sum their inputs mark theirs when every input is silent, and skip the samples then, so a
    // graph with nothing to play costs no work per sample. Unmarked output may be silent too.
    bool silent() const noexcept { return silent_; }
    void markSilent() const noexcept { silent_ = true; }

  private:
    mutable bool silent_ = false;
    mutable const float* const* prepared_ = nullptr;
};

}  // namespace kestio::platform::audio
