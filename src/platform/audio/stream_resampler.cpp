#include "platform/audio/stream_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace kestio::platform::audio {

namespace {

constexpr uint64_t kMaxPhases = 4096;
constexpr double kKaiserBeta = 8.0;
// Stop-band attenuation of that window, in dB (Kaiser's formula).
constexpr double kAttenuation = kKaiserBeta / 0.1102 + 8.7;

// Modified Bessel function of the first kind, order 0 (series form).
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) {
            break;
        }
    }
    return sum;
}

double sinc(double x) {
    if (std::abs(x) < 1e-12) {
        return 1.0;
    }
    return std::sin(M_PI * x) / (M_PI * x);
}

}  // namespace

std::shared_ptr<const ResamplerTable> ResamplerTable::make(uint32_t inputRate,
                                                           uint32_t outputRate) {
    if (inputRate == 0 || outputRate == 0 || inputRate > uint64_t(outputRate) * kMaxRatio) {
        return nullptr;
    }
    std::shared_ptr<ResamplerTable> table(new ResamplerTable());
    const uint64_t g = std::gcd(inputRate, outputRate);
    table->inputRate_ = inputRate;
    table->outputRate_ = outputRate;
    table->step_ = inputRate / g;
    table->denominator_ = outputRate / g;
    table->phases_ = std::min<uint64_t>(table->denominator_, kMaxPhases);

    // Transition width in cycles per input sample; the filter is half down at its middle,
    // which sits half a transition below the lower Nyquist frequency.
    const double transition = (kAttenuation - 7.95) / (14.36 * kTaps);
    const double cutoff = std::min(1.0, double(outputRate) / double(inputRate)) - transition;
    const double i0Beta = besselI0(kKaiserBeta);
    table->coefficients_.resize(table->phases_ * kTaps);
    for (uint64_t phase = 0; phase < table->phases_; ++phase) {
        const double offset = double(phase) / double(table->phases_);
        float* taps = table->coefficients_.data() + phase * kTaps;
        double sum = 0.0;
        double values[kTaps];
        for (int t = 0; t < kTaps; ++t) {
            const double x = double(t - (kHalfWidth - 1)) - offset;
            const double r = x / double(kHalfWidth);
            const double window =
                r * r < 1.0 ? besselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / i0Beta : 0.0;
            values[t] = cutoff * sinc(cutoff * x) * window;
            sum += values[t];
        }
        for (int t = 0; t < kTaps; ++t) {
            taps[t] = float(values[t] / sum);
        }
    }
    return table;
}

uint32_t StreamResampler::inputFramesBound(uint32_t outputFrames, double inputRate,
                                           double outputRate) {
    return uint32_t(std::ceil(double(outputFrames) * inputRate / outputRate)) +
           ResamplerTable::kTaps + 2;
}

StreamResampler::StreamResampler(uint32_t maxChannels, uint32_t maxOutputFrames, double maxRatio)
    : maxChannels_(maxChannels),
      maxOutput_(maxOutputFrames),
      maxRatio_(std::min<double>(maxRatio, ResamplerTable::kMaxRatio)),
      maxInput_(inputFramesBound(maxOutputFrames,
                                 std::min<double>(maxRatio, ResamplerTable::kMaxRatio), 1.0)),
      historyCapacity_(maxInput_ + ResamplerTable::kTaps + 2),
      history_(maxChannels, std::vector<float>(historyCapacity_, 0.0f)) {
    reset();
}

void StreamResampler::setTable(const ResamplerTable* table, uint32_t channels) noexcept {
    const bool fits = table != nullptr &&
                      double(table->inputRate()) <= maxRatio_ * double(table->outputRate()) + 1e-9;
    table_ = fits ? table : nullptr;
    channels_ = std::min(channels, maxChannels_);
    reset();
}

void StreamResampler::reset() noexcept {
    // The history starts with kHalfWidth - 1 frames of silence before the first input frame.
    for (auto& channel : history_) {
        std::fill(channel.begin(), channel.begin() + ResamplerTable::kHalfWidth, 0.0f);
    }
    length_ = ResamplerTable::kHalfWidth - 1;
    base_ = ResamplerTable::kHalfWidth - 1;
    numerator_ = 0;
}

uint32_t StreamResampler::inputFramesFor(uint32_t outputFrames) const noexcept {
    if (table_ == nullptr || outputFrames == 0) {
        return 0;
    }
    outputFrames = std::min(outputFrames, maxOutput_);
    const uint64_t lastBase =
        base_ + (numerator_ + uint64_t(outputFrames - 1) * table_->step()) / table_->denominator();
    const uint64_t needed = lastBase + ResamplerTable::kHalfWidth + 1;
    return needed > length_ ? uint32_t(std::min<uint64_t>(needed - length_, maxInput_)) : 0;
}

double StreamResampler::inputFramesAhead() const noexcept {
    if (table_ == nullptr) {
        return 0.0;
    }
    return double(length_) - double(base_) - double(numerator_) / double(table_->denominator());
}

uint32_t StreamResampler::outputFramesWithin(uint32_t inputFrames, uint32_t limit) const noexcept {
    if (table_ == nullptr) {
        return 0;
    }
    const uint64_t end = uint64_t(length_) + inputFrames;  // first position without input
    if (end <= base_) {
        return 0;
    }
    // Output j sits at base_ + (numerator_ + j * step) / denominator.
    const uint64_t room = (end - base_) * table_->denominator() - numerator_;
    const uint64_t count = (room + table_->step() - 1) / table_->step();
    return uint32_t(std::min<uint64_t>(count, std::min(limit, maxOutput_)));
}

void StreamResampler::process(const float* const* input, uint32_t inputFrames, float* const* output,
                              uint32_t outputFrames) noexcept {
    outputFrames = std::min(outputFrames, maxOutput_);
    if (table_ == nullptr) {
        for (uint32_t c = 0; c < channels_; ++c) {
            std::memset(output[c], 0, outputFrames * sizeof(float));
        }
        return;
    }
    inputFrames = std::min(inputFrames, historyCapacity_ - length_);
    for (uint32_t c = 0; c < channels_; ++c) {
        std::memcpy(history_[c].data() + length_, input[c], inputFrames * sizeof(float));
    }
    length_ += inputFrames;

    const uint64_t step = table_->step();
    const uint64_t denominator = table_->denominator();
    uint64_t base = base_;
    uint64_t numerator = numerator_;
    for (uint32_t i = 0; i < outputFrames; ++i) {
        const float* taps = table_->taps(numerator);
        const std::size_t first = base - (ResamplerTable::kHalfWidth - 1);
        for (uint32_t c = 0; c < channels_; ++c) {
            const float* h = history_[c].data() + first;
            float sum = 0.0f;
            for (int t = 0; t < ResamplerTable::kTaps; ++t) {
                sum += h[t] * taps[t];
            }
            output[c][i] = sum;
        }
        numerator += step;
        base += numerator / denominator;
        numerator %= denominator;
    }
    numerator_ = numerator;

    // Keep only what the next position can still reach.
    const uint64_t keepFrom = base - (ResamplerTable::kHalfWidth - 1);
    const uint32_t drop = uint32_t(std::min<uint64_t>(keepFrom, length_));
    if (drop > 0) {
        for (uint32_t c = 0; c < channels_; ++c) {
            float* h = history_[c].data();
            std::memmove(h, h + drop, (length_ - drop) * sizeof(float));
        }
        length_ -= drop;
    }
    base_ = uint32_t(base - drop);
}

}  // namespace kestio::platform::audio
