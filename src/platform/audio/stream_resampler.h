#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kestio::platform::audio {

// The windowed-sinc filter for one pair of sample rates, computed once and never changed, so
// that any number of resamplers (on any thread) can share it. A Kaiser window of 96 taps gives
// about 80 dB of stop band and a transition of about 5 % of the input rate, placed just below
// the lower Nyquist frequency (flat to about 19.5 kHz between 44.1 and 48 kHz).
class ResamplerTable {
  public:
    // Taps on each side of the interpolation point.
    static constexpr int kHalfWidth = 48;
    static constexpr int kTaps = 2 * kHalfWidth;
    // Input frames per output frame that a resampler supports at most.
    static constexpr uint32_t kMaxRatio = 16;

    // Null when either rate is 0 or the input rate is more than kMaxRatio times the output.
    static std::shared_ptr<const ResamplerTable> make(uint32_t inputRate, uint32_t outputRate);

    uint32_t inputRate() const { return inputRate_; }
    uint32_t outputRate() const { return outputRate_; }
    // Each output frame advances the input by step()/denominator() frames (reduced fraction).
    uint64_t step() const { return step_; }
    uint64_t denominator() const { return denominator_; }
    // The kTaps coefficients for a fractional position numerator/denominator().
    const float* taps(uint64_t numerator) const {
        return coefficients_.data() + (numerator * phases_ / denominator_) * kTaps;
    }

  private:
    ResamplerTable() = default;

    uint32_t inputRate_ = 0;
    uint32_t outputRate_ = 0;
    uint64_t step_ = 1;
    uint64_t denominator_ = 1;
    uint64_t phases_ = 1;
    std::vector<float> coefficients_;
};

// Converts a stream between two sample rates block by block, without drift: every output block
// asks for exactly the input frames it needs (inputFramesFor), so a caller that pulls its input
// can feed it exactly. Memory is reserved at construction; setTable, reset, inputFramesFor and
// process never allocate, lock or block, so they are safe on the render thread. Output sample i
// lines up with input sample i × inputRate / outputRate (no added delay); the filter looks
// kHalfWidth frames ahead.
class StreamResampler {
  public:
    // Reserves room for blocks of up to `maxOutputFrames` output frames at input/output rate
    // ratios up to `maxRatio` (at most ResamplerTable::kMaxRatio).
    StreamResampler(uint32_t maxChannels, uint32_t maxOutputFrames,
                    double maxRatio = ResamplerTable::kMaxRatio);

    // An upper bound of inputFramesFor(outputFrames) at the ratio inputRate / outputRate.
    static uint32_t inputFramesBound(uint32_t outputFrames, double inputRate, double outputRate);

    // Starts a new stream through `table` with `channels` channels (at most maxChannels). A
    // table whose ratio is beyond the one the resampler was made for is refused (silence).
    void setTable(const ResamplerTable* table, uint32_t channels) noexcept;
    const ResamplerTable* table() const noexcept { return table_; }
    void reset() noexcept;

    // The input frames the next `outputFrames` output frames need (outputFrames at most
    // maxOutputFrames).
    uint32_t inputFramesFor(uint32_t outputFrames) const noexcept;
    // How many output frames (at most `limit`) lie over the input held so far plus
    // `inputFrames` more: what a stream that ends after those frames still has to give.
    uint32_t outputFramesWithin(uint32_t inputFrames, uint32_t limit) const noexcept;
    // Input frames held beyond the position of the next output frame: the first frame given
    // to the next process() is heard this many input frames after that output frame.
    double inputFramesAhead() const noexcept;
    // The most inputFramesFor can return.
    uint32_t maxInputFrames() const noexcept { return maxInput_; }
    // Consumes exactly inputFramesFor(outputFrames) frames of `input` and writes `outputFrames`
    // frames. Without a table it writes silence.
    void process(const float* const* input, uint32_t inputFrames, float* const* output,
                 uint32_t outputFrames) noexcept;

  private:
    uint32_t maxChannels_;
    uint32_t maxOutput_;
    double maxRatio_;
    uint32_t maxInput_;
    uint32_t historyCapacity_;
    const ResamplerTable* table_ = nullptr;
    uint32_t channels_ = 0;
    std::vector<std::vector<float>> history_;
    uint32_t length_ = 0;     // valid frames in history_
    uint32_t base_ = 0;       // history index of the integer part of the next position
    uint64_t numerator_ = 0;  // fractional part of the next position, over the denominator
};

}  // namespace kestio::platform::audio
