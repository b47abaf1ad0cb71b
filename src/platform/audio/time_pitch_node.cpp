#include "platform/audio/time_pitch_node.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/audio/render_step.h"

namespace kestio::platform::audio {

namespace {

using RubberBand::RubberBandStretcher;

class TimePitchKernel final : public RenderKernel {
  public:
    TimePitchKernel(std::shared_ptr<std::atomic<float>> rate, const KernelSetup& setup)
        : rate_(std::move(rate)),
          channels_(setup.output.channelCount),
          maxFrames_(std::max<uint32_t>(setup.maxFrames, 1)),
          stretcher_(std::size_t(std::lround(setup.output.sampleRate)), channels_,
                     RubberBandStretcher::OptionProcessRealTime |
                         RubberBandStretcher::OptionEngineFiner |
                         RubberBandStretcher::OptionWindowShort |
                         RubberBandStretcher::OptionThreadingNever,
                     1.0, 1.0),
          out_(std::size_t(channels_) * maxFrames_),
          outPointers_(channels_),
          outAt_(channels_),
          silence_(std::size_t(channels_) * TimePitchNode::kBlockFrames, 0.0f),
          silencePointers_(channels_),
          discard_(std::size_t(channels_) * TimePitchNode::kBlockFrames),
          discardPointers_(channels_) {
        stretcher_.setMaxProcessSize(TimePitchNode::kBlockFrames);
        for (uint32_t c = 0; c < channels_; ++c) {
            outPointers_[c] = out_.data() + std::size_t(c) * maxFrames_;
            silencePointers_[c] = silence_.data() + std::size_t(c) * TimePitchNode::kBlockFrames;
            discardPointers_[c] = discard_.data() + std::size_t(c) * TimePitchNode::kBlockFrames;
        }
    }

    const float* const* render(const RenderStep& step, uint32_t frames) noexcept override {
        const RenderStep* upstream = step.inputs.empty() ? nullptr : step.inputs[0];
        const float rate = rate_->load(std::memory_order_relaxed);
        if (rate == 1.0f) {
            bypassing_ = true;
            if (upstream != nullptr) {
                return upstream->pull(frames);
            }
            clear(0, frames);
            return outPointers_.data();
        }
        if (bypassing_) {
            restart(rate);
        } else if (rate != currentRate_) {
            stretcher_.setTimeRatio(1.0 / double(rate));
            currentRate_ = rate;
        }

        uint32_t produced = 0;
        // Enough steps for the highest rate; it only stops a stretcher that gives nothing.
        const uint64_t maxSteps =
            uint64_t(frames) * uint64_t(TimePitchNode::kMaxRate) / TimePitchNode::kBlockFrames + 64;
        for (uint64_t steps = 0; produced < frames && steps < maxSteps; ++steps) {
            const int available = stretcher_.available();
            if (available > 0) {
                if (toDrop_ > 0) {
                    const auto n = std::min<std::size_t>(
                        {std::size_t(available), toDrop_, TimePitchNode::kBlockFrames});
                    stretcher_.retrieve(discardPointers_.data(), n);
                    toDrop_ -= n;
                    continue;
                }
                const auto n = std::min<std::size_t>(std::size_t(available), frames - produced);
                for (uint32_t c = 0; c < channels_; ++c) {
                    outAt_[c] = outPointers_[c] + produced;
                }
                stretcher_.retrieve(outAt_.data(), n);
                produced += uint32_t(n);
                continue;
            }
            const float* const* in = upstream != nullptr
                                         ? upstream->pull(TimePitchNode::kBlockFrames)
                                         : silencePointers_.data();
            stretcher_.process(in, TimePitchNode::kBlockFrames, false);
        }
        clear(produced, frames - produced);
        return outPointers_.data();
    }

  private:
    // Starts stretching from silence: pads the stretcher's input so that its output lines up
    // with the input once its start delay is dropped.
    void restart(float rate) noexcept {
        stretcher_.reset();
        stretcher_.setTimeRatio(1.0 / double(rate));
        currentRate_ = rate;
        std::size_t pad = stretcher_.getPreferredStartPad();
        while (pad > 0) {
            const std::size_t n = std::min<std::size_t>(pad, TimePitchNode::kBlockFrames);
            stretcher_.process(silencePointers_.data(), n, false);
            pad -= n;
        }
        toDrop_ = stretcher_.getStartDelay();
        bypassing_ = false;
    }

    void clear(uint32_t offset, uint32_t frames) noexcept {
        for (uint32_t c = 0; c < channels_; ++c) {
            std::memset(outPointers_[c] + offset, 0, frames * sizeof(float));
        }
    }

    std::shared_ptr<std::atomic<float>> rate_;
    uint32_t channels_;
    uint32_t maxFrames_;
    RubberBandStretcher stretcher_;
    std::vector<float> out_;
    std::vector<float*> outPointers_;
    std::vector<float*> outAt_;
    std::vector<float> silence_;
    std::vector<const float*> silencePointers_;
    std::vector<float> discard_;
    std::vector<float*> discardPointers_;
    bool bypassing_ = true;
    float currentRate_ = 1.0f;
    std::size_t toDrop_ = 0;
};

}  // namespace

TimePitchNode::TimePitchNode() : rate_(std::make_shared<std::atomic<float>>(1.0f)) {}

void TimePitchNode::setRate(float rate) {
    if (!std::isfinite(rate)) {
        return;
    }
    rate_->store(std::clamp(rate, kMinRate, kMaxRate), std::memory_order_relaxed);
}

std::shared_ptr<RenderKernel> TimePitchNode::makeKernel(const KernelSetup& setup) {
    return std::make_shared<TimePitchKernel>(rate_, setup);
}

uint32_t TimePitchNode::maxInputFrames(const KernelSetup& setup) const {
    return std::max(setup.maxFrames, kBlockFrames);
}

}  // namespace kestio::platform::audio
