#include "platform/audio/eq_node.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/audio/peaking_filter.h"
#include "platform/audio/render_step.h"
#include "platform/audio/zeroed_frames.h"

namespace kestio::platform::audio {

// The band settings, written on the main thread and read by the render thread. Every change
// advances `version`, so the render thread recomputes its coefficients once per change.
struct EQNode::Parameters {
    struct Band {
        std::atomic<float> frequency{1000.0f};
        std::atomic<float> bandwidth{1.0f};
        std::atomic<float> gain{0.0f};
        std::atomic<bool> bypass{false};
    };

    explicit Parameters(int count) : count(count), bands(std::make_unique<Band[]>(count)) {}

    const int count;
    std::unique_ptr<Band[]> bands;
    std::atomic<uint64_t> version{1};
};

namespace {

class EQKernel final : public RenderKernel {
  public:
    EQKernel(std::shared_ptr<EQNode::Parameters> parameters, const KernelSetup& setup)
        : parameters_(std::move(parameters)),
          sampleRate_(setup.output.sampleRate),
          channels_(setup.output.channelCount),
          maxFrames_(std::max<uint32_t>(setup.maxFrames, 1)),
          coefficients_(parameters_->count),
          active_(parameters_->count, false),
          transparent_(parameters_->count, true),
          state_(std::size_t(channels_) * parameters_->count),
          out_(std::size_t(channels_) * maxFrames_),
          outPointers_(channels_) {
        for (uint32_t c = 0; c < channels_; ++c) {
            outPointers_[c] = out_.data() + std::size_t(c) * maxFrames_;
        }
    }

    const float* const* render(const RenderStep& step, uint32_t frames) noexcept override {
        const float* const* in = step.inputs.empty() ? nullptr : step.inputs[0]->pull(frames);
        update();
        if ((in == nullptr || step.inputs[0]->silent()) && !ringing()) {
            // Silence through filters at rest stays silence.
            zeroes_.clear(outPointers_.data(), channels_, frames);
            step.markSilent();
            return outPointers_.data();
        }
        zeroes_.dirty();
        for (uint32_t c = 0; c < channels_; ++c) {
            float* out = outPointers_[c];
            if (in == nullptr) {
                std::memset(out, 0, frames * sizeof(float));
            } else {
                std::memcpy(out, in[c], frames * sizeof(float));
            }
            for (int b = 0; b < parameters_->count; ++b) {
                BiquadState& state = state_[std::size_t(c) * parameters_->count + b];
                if (!active_[b]) {
                    continue;
                }
                if (transparent_[b] && state.s1 == 0.0 && state.s2 == 0.0) {
                    continue;  // exactly transparent: output equals input
                }
                const BiquadCoefficients& k = coefficients_[b];
                for (uint32_t i = 0; i < frames; ++i) {
                    out[i] = float(state.process(k, double(out[i])));
                }
            }
        }
        return outPointers_.data();
    }

  private:
    // Whether a band still holds sound from earlier input (its filter has not come to rest).
    bool ringing() const noexcept {
        for (const BiquadState& state : state_) {
            if (state.s1 != 0.0 || state.s2 != 0.0) {
                return true;
            }
        }
        return false;
    }

    void update() noexcept {
        const uint64_t version = parameters_->version.load(std::memory_order_acquire);
        if (version == seenVersion_) {
            return;
        }
        seenVersion_ = version;
        for (int b = 0; b < parameters_->count; ++b) {
            const auto& band = parameters_->bands[b];
            const bool bypass = band.bypass.load(std::memory_order_relaxed);
            const float gain = band.gain.load(std::memory_order_relaxed);
            if (bypass) {
                for (uint32_t c = 0; c < channels_; ++c) {
                    state_[std::size_t(c) * parameters_->count + b] = BiquadState{};
                }
            }
            active_[b] = !bypass;
            transparent_[b] = gain == 0.0f;
            coefficients_[b] = BiquadCoefficients::peaking(
                sampleRate_, band.frequency.load(std::memory_order_relaxed),
                band.bandwidth.load(std::memory_order_relaxed), gain);
        }
    }

    std::shared_ptr<EQNode::Parameters> parameters_;
    double sampleRate_;
    uint32_t channels_;
    uint32_t maxFrames_;
    uint64_t seenVersion_ = 0;
    std::vector<BiquadCoefficients> coefficients_;
    std::vector<bool> active_;
    std::vector<bool> transparent_;
    std::vector<BiquadState> state_;
    std::vector<float> out_;
    std::vector<float*> outPointers_;
    ZeroedFrames zeroes_;
};

}  // namespace

EQNode::EQNode(int numberOfBands)
    : parameters_(std::make_shared<Parameters>(std::max(numberOfBands, 0))) {}

int EQNode::bandCount() const {
    return parameters_->count;
}

EQBand EQNode::band(int index) const {
    EQBand band;
    if (index < 0 || index >= parameters_->count) {
        return band;
    }
    const auto& stored = parameters_->bands[index];
    band.frequency = stored.frequency.load(std::memory_order_relaxed);
    band.bandwidth = stored.bandwidth.load(std::memory_order_relaxed);
    band.gain = stored.gain.load(std::memory_order_relaxed);
    band.bypass = stored.bypass.load(std::memory_order_relaxed);
    return band;
}

void EQNode::setBand(int index, const EQBand& band) {
    if (index < 0 || index >= parameters_->count || !std::isfinite(band.frequency) ||
        !std::isfinite(band.bandwidth) || !std::isfinite(band.gain)) {
        return;
    }
    auto& stored = parameters_->bands[index];
    stored.frequency.store(band.frequency, std::memory_order_relaxed);
    stored.bandwidth.store(band.bandwidth, std::memory_order_relaxed);
    stored.gain.store(band.gain, std::memory_order_relaxed);
    stored.bypass.store(band.bypass, std::memory_order_relaxed);
    parameters_->version.fetch_add(1, std::memory_order_release);
    changed();
}

std::shared_ptr<RenderKernel> EQNode::makeKernel(const KernelSetup& setup) {
    return std::make_shared<EQKernel>(parameters_, setup);
}

}  // namespace kestio::platform::audio
