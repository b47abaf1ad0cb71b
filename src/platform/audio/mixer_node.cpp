#include "platform/audio/mixer_node.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/audio/audio_engine.h"
#include "platform/audio/channel_map.h"
#include "platform/audio/mixing_gain.h"
#include "platform/audio/render_step.h"
#include "platform/audio/stream_resampler.h"
#include "platform/audio/zeroed_frames.h"

namespace kestio::platform::audio {

namespace {

// Owned sample memory: `channels` arrays of `frames` floats and their pointers.
struct Planes {
    Planes(uint32_t channels, uint32_t frames)
        : samples(std::size_t(channels) * std::max<uint32_t>(frames, 1), 0.0f), pointers(channels) {
        for (uint32_t c = 0; c < channels; ++c) {
            pointers[c] = samples.data() + std::size_t(c) * std::max<uint32_t>(frames, 1);
        }
    }
    std::vector<float> samples;
    std::vector<float*> pointers;
};

class MixerKernel final : public RenderKernel {
  public:
    explicit MixerKernel(const KernelSetup& setup)
        : channels_(setup.output.channelCount),
          rate_(setup.output.sampleRate),
          out_(channels_, setup.maxFrames),
          gains_(std::max<uint32_t>(setup.maxFrames, 1)) {}

    const float* const* render(const RenderStep& step, uint32_t frames) noexcept override {
        bool sounding = false;
        for (const RenderStep* input : step.inputs) {
            const float* const* in = input->pull(frames);
            // Frame i of this part is heard at the part's start plus i frames. The gain runs
            // for every input, silent or not, so that its ramps keep time.
            float gain = 1.0f;
            const bool constant =
                input->gain == nullptr || step.time == nullptr ||
                input->gain->render(step.time->start, rate_, frames, gains_.data(), gain);
            if ((constant && gain == 0.0f) || input->silent()) {
                continue;
            }
            if (!sounding) {
                zeroes_.clear(out_.pointers.data(), channels_, frames);
                sounding = true;
            }
            zeroes_.dirty();
            const uint32_t channels = std::min(channels_, input->format.channelCount);
            for (uint32_t c = 0; c < channels; ++c) {
                float* out = out_.pointers[c];
                const float* src = in[c];
                if (constant) {
                    for (uint32_t i = 0; i < frames; ++i) {
                        out[i] += gain * src[i];
                    }
                } else {
                    for (uint32_t i = 0; i < frames; ++i) {
                        out[i] += gains_[i] * src[i];
                    }
                }
            }
        }
        if (!sounding) {
            zeroes_.clear(out_.pointers.data(), channels_, frames);
            step.markSilent();
        }
        return out_.pointers.data();
    }

  private:
    uint32_t channels_;
    double rate_;
    Planes out_;
    ZeroedFrames zeroes_;
    std::vector<float> gains_;  // per frame, while a gain ramps
};

// One input's way into the mixer's format: channel mix first (at the input's rate), then
// the rate.
class MixerInputKernel final : public RenderKernel {
  public:
    MixerInputKernel(const AudioFormat& from, const KernelSetup& setup)
        : from_(from),
          to_(setup.output),
          mix_(defaultChannelMix(from.channelCount, setup.output.channelCount)),
          out_(to_.channelCount, setup.maxFrames),
          mapped_(to_.channelCount, MixerNode::inputFramesFor(from, setup)),
          table_(from.sampleRate == to_.sampleRate
                     ? nullptr
                     : ResamplerTable::make(uint32_t(std::lround(from.sampleRate)),
                                            uint32_t(std::lround(to_.sampleRate)))),
          resampler_(to_.channelCount, setup.maxFrames, from.sampleRate / to_.sampleRate) {
        resampler_.setTable(table_.get(), to_.channelCount);
    }

    const float* const* render(const RenderStep& step, uint32_t frames) noexcept override {
        const RenderStep* upstream = step.inputs.empty() ? nullptr : step.inputs[0];
        if (from_.sampleRate == to_.sampleRate) {
            const float* const* in = upstream != nullptr ? upstream->pull(frames) : nullptr;
            if (in == nullptr || upstream->silent()) {
                zeroes_.clear(out_.pointers.data(), to_.channelCount, frames);
                step.markSilent();
                return out_.pointers.data();
            }
            zeroes_.dirty();
            applyChannelMix(mix_, in, out_.pointers.data(), frames);
            return out_.pointers.data();
        }
        const uint32_t needed = resampler_.inputFramesFor(frames);
        const float* const* in =
            needed > 0 && upstream != nullptr ? pullAhead(step, *upstream, needed) : nullptr;
        if (in == nullptr || upstream->silent()) {
            // The filter still gives out what it holds of the sound before; once it holds
            // nothing but silence, so is its output: silent like any other chain's, so that
            // the engine can tell that nothing plays.
            if (silentInput_ < kQuietAfterFrames) {
                silentInput_ += needed;
                if (silentInput_ >= kQuietAfterFrames) {
                    resampler_.reset();  // holds silence, as after a start from silence
                }
            }
            if (silentInput_ >= kQuietAfterFrames) {
                zeroes_.clear(out_.pointers.data(), to_.channelCount, frames);
                step.markSilent();
                return out_.pointers.data();
            }
            for (uint32_t c = 0; c < to_.channelCount; ++c) {
                std::memset(mapped_.pointers[c], 0, needed * sizeof(float));
            }
        } else {
            silentInput_ = 0;
            applyChannelMix(mix_, in, mapped_.pointers.data(), needed);
        }
        zeroes_.dirty();
        resampler_.process(mapped_.pointers.data(), needed, out_.pointers.data(), frames);
        return out_.pointers.data();
    }

  private:
    // Pulls `frames` input frames for the resampler. The resampler already holds the input
    // its filter looks ahead into, so the first frame pulled now is heard that much after this
    // block's first frame: the upstream is told so, with a part of its own.
    const float* const* pullAhead(const RenderStep& step, const RenderStep& upstream,
                                  uint32_t frames) noexcept {
        RenderTime* time = step.time;
        if (time == nullptr) {
            return upstream.pull(frames);
        }
        const RenderTime saved = *time;
        time->start = saved.start + resampler_.inputFramesAhead() / (from_.sampleRate * saved.pace);
        time->part = time->newPart();
        const float* const* in = upstream.pull(frames);
        time->start = saved.start;
        time->part = saved.part;
        return in;
    }

    // Silent input frames in a row after which the filter holds nothing else: its whole
    // width on both sides of the point it reads at.
    static constexpr uint64_t kQuietAfterFrames = 2 * ResamplerTable::kTaps;

    AudioFormat from_;
    AudioFormat to_;
    ChannelMix mix_;
    uint64_t silentInput_ = 0;
    Planes out_;
    ZeroedFrames zeroes_;
    Planes mapped_;
    std::shared_ptr<const ResamplerTable> table_;
    StreamResampler resampler_;
};

}  // namespace

AudioFormat MixerNode::outputFormat(uint32_t bus) const {
    if (bus != 0 || engine() == nullptr) {
        return AudioFormat{0.0, 0, false};
    }
    return engine()->outputFormat();
}

uint32_t MixerNode::inputBusCount() const {
    return std::numeric_limits<uint32_t>::max();
}

std::shared_ptr<RenderKernel> MixerNode::makeKernel(const KernelSetup& setup) {
    return std::make_shared<MixerKernel>(setup);
}

uint32_t MixerNode::inputFramesFor(const AudioFormat& from, const KernelSetup& setup) {
    if (from.sampleRate == setup.output.sampleRate) {
        return setup.maxFrames;
    }
    return StreamResampler::inputFramesBound(setup.maxFrames, from.sampleRate,
                                             setup.output.sampleRate);
}

std::shared_ptr<RenderKernel> MixerNode::converterFor(const AudioNode& source,
                                                      const AudioFormat& from,
                                                      const KernelSetup& setup) {
    if (from.sameStream(setup.output)) {
        converters_.erase(&source);
        return nullptr;
    }
    const KernelSetup key{from, setup.output, setup.maxFrames};
    auto& entry = converters_[&source];
    if (!entry.second || !(entry.first == key)) {
        entry = {key, std::make_shared<MixerInputKernel>(from, setup)};
    }
    return entry.second;
}

}  // namespace kestio::platform::audio
