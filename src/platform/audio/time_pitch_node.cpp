#include "platform/audio/time_pitch_node.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/audio/render_step.h"

namespace kestio::platform::audio {

// The rate asked for and the clock time it applies from, written by the main thread and read
// by the render thread without a lock: `version` is odd while the main thread writes, and the
// render thread takes a request only when it reads the same even version before and after.
// Every access is sequentially consistent, which makes that check sound.
struct TimePitchRequest {
    std::atomic<uint64_t> version{0};
    std::atomic<float> rate{1.0f};
    std::atomic<double> at{-std::numeric_limits<double>::infinity()};
    // The rate the render thread plays at, where a kernel made for a new plan starts.
    std::atomic<float> applied{1.0f};
};

namespace {

using RubberBand::RubberBandStretcher;

// Back at rate 1, what is inside the stretcher comes out first: at most this much.
constexpr uint32_t kTailFrames = 16384;
// The input kept to join the stretcher's last output to the input that follows it.
constexpr uint32_t kHistoryFrames = 4096;
// The join: a crossfade of this length, at the lag (within kLagRange of the expected one) where
// the tail and the input agree best.
constexpr uint32_t kJoinFrames = 256;
constexpr uint32_t kLagRange = 480;
// The tail's end is where its level is still this fraction of the input's (the stretcher's last
// output before the silence that pushes it out fades into that silence).
constexpr double kTailLevel = 0.9;
constexpr uint32_t kTailBackOff = 512;
// A spare runs through at most this many silent blocks of input (see prime): enough for rates
// up to about 8; above that it is only padded, since that many blocks would hold up the main
// thread for milliseconds.
constexpr uint32_t kMaxSilentBlocks = 24;

class TimePitchKernel final : public RenderKernel {
  public:
    TimePitchKernel(std::shared_ptr<TimePitchRequest> request, const KernelSetup& setup)
        : request_(std::move(request)),
          rate_(request_->applied.load()),
          channels_(setup.output.channelCount),
          maxFrames_(std::max<uint32_t>(setup.maxFrames, 1)),
          linkRate_(setup.output.sampleRate),
          out_(std::size_t(channels_) * maxFrames_),
          outPointers_(channels_),
          outAt_(channels_),
          silence_(std::size_t(channels_) * TimePitchNode::kBlockFrames, 0.0f),
          silencePointers_(channels_),
          discard_(std::size_t(channels_) * TimePitchNode::kBlockFrames),
          discardPointers_(channels_),
          primingDiscard_(std::size_t(channels_) * TimePitchNode::kBlockFrames),
          primingDiscardPointers_(channels_),
          tail_(std::size_t(channels_) * (kTailFrames + kHistoryFrames)),
          tailPointers_(channels_),
          history_(std::size_t(channels_) * kHistoryFrames) {
        for (Slot& slot : slots_) {
            slot.stretcher = std::make_unique<RubberBandStretcher>(
                std::size_t(std::lround(setup.output.sampleRate)), channels_,
                RubberBandStretcher::OptionProcessRealTime |
                    RubberBandStretcher::OptionEngineFiner |
                    RubberBandStretcher::OptionWindowShort |
                    RubberBandStretcher::OptionThreadingNever,
                1.0, 1.0);
            slot.stretcher->setMaxProcessSize(TimePitchNode::kBlockFrames);
        }
        slots_[active_].state.store(kInUse, std::memory_order_relaxed);
        stretcher_ = slots_[active_].stretcher.get();
        for (uint32_t c = 0; c < channels_; ++c) {
            tailPointers_[c] = tail_.data() + std::size_t(c) * (kTailFrames + kHistoryFrames);
            outPointers_[c] = out_.data() + std::size_t(c) * maxFrames_;
            silencePointers_[c] = silence_.data() + std::size_t(c) * TimePitchNode::kBlockFrames;
            discardPointers_[c] = discard_.data() + std::size_t(c) * TimePitchNode::kBlockFrames;
            primingDiscardPointers_[c] =
                primingDiscard_.data() + std::size_t(c) * TimePitchNode::kBlockFrames;
        }
        primeSpares(request_->rate.load());
    }

    // Main thread: primes every stretcher the render thread has given back, and re-primes a
    // spare primed for another rate, for `rate` (the rate the node will leave 1 for), so that
    // leaving rate 1 costs the render thread no start-up work. Rate 1 primes nothing.
    void primeSpares(float rate) noexcept {
        if (rate == 1.0f) {
            return;
        }
        for (Slot& slot : slots_) {
            int expected = kUsed;
            bool mine =
                slot.state.compare_exchange_strong(expected, kPriming, std::memory_order_acq_rel);
            if (!mine && expected == kReady &&
                slot.primedRate.load(std::memory_order_relaxed) != rate) {
                mine = slot.state.compare_exchange_strong(expected, kPriming,
                                                          std::memory_order_acq_rel);
            }
            if (mine) {
                prime(slot, rate, kMaxSilentBlocks);
                slot.state.store(kReady, std::memory_order_release);
            }
        }
    }

    const float* const* render(const RenderStep& step, uint32_t frames) noexcept override {
        const RenderStep* upstream = step.inputs.empty() ? nullptr : step.inputs[0];
        // The engine position of this call's first frame (a node on the way may pull in pieces).
        if (step.time != nullptr && step.time->part != part_) {
            part_ = step.time->part;
            partFrames_ = 0;
        }
        const double pace = step.time != nullptr ? step.time->pace : 1.0;
        const double callStart = step.time != nullptr
                                     ? step.time->start + double(partFrames_) / (linkRate_ * pace)
                                     : 0.0;
        partFrames_ += frames;
        takeRequest();
        // Spans at one rate each: a requested change splits the call at the frame heard at its
        // clock time.
        uint32_t done = 0;
        while (done < frames) {
            uint32_t end = frames;
            if (pending_) {
                const double due = step.time != nullptr
                                       ? std::round((pendingAt_ - callStart) * linkRate_ * pace)
                                       : 0.0;
                if (due <= double(done)) {
                    rate_ = pendingRate_;
                    pending_ = false;
                    request_->applied.store(rate_);
                    continue;
                }
                if (due < double(frames)) {
                    end = uint32_t(due);
                }
            }
            spanStart_ = callStart + double(done) / (linkRate_ * pace);
            const float* const* out = renderSpan(step, upstream, done, end - done);
            if (done == 0 && end == frames) {
                if (passedOn_ && upstream->silent()) {
                    step.markSilent();
                }
                return out;
            }
            if (out != outPointers_.data()) {
                for (uint32_t c = 0; c < channels_; ++c) {
                    std::memcpy(outPointers_[c] + done, out[c], (end - done) * sizeof(float));
                }
            }
            done = end;
        }
        return outPointers_.data();
    }

  private:
    // Takes in a newer request, unless the main thread is writing it (then at the next call).
    void takeRequest() noexcept {
        const uint64_t version = request_->version.load();
        if (version == seenVersion_ || (version & 1) != 0) {
            return;
        }
        const float rate = request_->rate.load();
        const double at = request_->at.load();
        if (request_->version.load() != version) {
            return;
        }
        seenVersion_ = version;
        pendingRate_ = rate;
        pendingAt_ = at;
        pending_ = true;
    }

    // Renders `frames` frames at the current rate into the output from `offset`, or returns
    // the upstream's own output where it passes through. Its first frame is heard at
    // spanStart_.
    const float* const* renderSpan(const RenderStep& step, const RenderStep* upstream,
                                   uint32_t offset, uint32_t frames) noexcept {
        const float rate = rate_;
        passedOn_ = false;
        if (rate == 1.0f) {
            if (!bypassing_) {
                drain();
            }
            if (tailAt_ < tailLength_) {
                return renderTail(step, upstream, offset, frames);
            }
            if (upstream != nullptr) {
                // A span later in the call is heard later than the engine's part says.
                passedOn_ = true;
                return offset == 0 ? upstream->pull(frames)
                                   : pullAt(step, *upstream, frames, 0.0, 1.0);
            }
            clear(offset, frames);
            return outPointers_.data();
        }
        if (tailAt_ < tailLength_) {
            // Left rate 1 again before the tail was out: it goes into the stretcher first.
            restartWithCurrent(rate);
            while (tailAt_ < tailLength_) {
                const uint32_t n = std::min(tailLength_ - tailAt_, TimePitchNode::kBlockFrames);
                for (uint32_t c = 0; c < channels_; ++c) {
                    outAt_[c] = tailPointers_[c] + tailAt_;
                }
                remember(outAt_.data(), n);
                stretcher_->process(outAt_.data(), n, false);
                fed_ += n;
                tailAt_ += n;
            }
        }
        if (bypassing_) {
            restart(step, upstream, rate);
        } else if (rate != currentRate_) {
            stretcher_->setTimeRatio(1.0 / double(rate));
            currentRate_ = rate;
        }

        uint32_t produced = 0;
        // Enough steps for the highest rate; it only stops a stretcher that gives nothing.
        const uint64_t maxSteps =
            uint64_t(frames) * uint64_t(TimePitchNode::kMaxRate) / TimePitchNode::kBlockFrames + 64;
        for (uint64_t steps = 0; produced < frames && steps < maxSteps; ++steps) {
            const int available = stretcher_->available();
            if (available > 0) {
                if (dropStartDelay(available)) {
                    continue;
                }
                const auto n = std::min<std::size_t>(std::size_t(available), frames - produced);
                for (uint32_t c = 0; c < channels_; ++c) {
                    outAt_[c] = outPointers_[c] + offset + produced;
                }
                stretcher_->retrieve(outAt_.data(), n);
                produced += uint32_t(n);
                outContent_ += double(n) * double(currentRate_);
                continue;
            }
            // The input pulled now is heard once the output reaches it: after what this call
            // has given and what the stretcher holds ahead of it, at the rate.
            const float* const* in =
                upstream != nullptr
                    ? pullAt(step, *upstream, TimePitchNode::kBlockFrames,
                             double(produced) + (double(fed_) - outContent_) / double(rate),
                             double(rate))
                    : silencePointers_.data();
            remember(in, TimePitchNode::kBlockFrames);
            stretcher_->process(in, TimePitchNode::kBlockFrames, false);
            fed_ += TimePitchNode::kBlockFrames;
        }
        clear(offset + produced, frames - produced);
        return outPointers_.data();
    }

    // Keeps the newest input in the history ring.
    void remember(const float* const* in, uint32_t frames) noexcept {
        for (uint32_t i = 0; i < frames; ++i) {
            const std::size_t at = (historyEnd_ + i) % kHistoryFrames;
            for (uint32_t c = 0; c < channels_; ++c) {
                history_[std::size_t(c) * kHistoryFrames + at] = in[c][i];
            }
        }
        historyEnd_ = (historyEnd_ + frames) % kHistoryFrames;
        historyFrames_ = std::min<uint64_t>(historyFrames_ + frames, kHistoryFrames);
    }

    // The input `back` frames before the newest, channel `c`.
    float historyAt(uint32_t c, uint32_t back) const noexcept {
        const std::size_t at = (historyEnd_ + kHistoryFrames - back) % kHistoryFrames;
        return history_[std::size_t(c) * kHistoryFrames + at];
    }

    // Takes out what the stretcher holds, at rate 1, into the tail, and joins its end to the
    // input that follows: the tail's last kJoinFrames crossfade into the input where the two
    // agree best (about kTailMargin frames before the newest input), and the input from there
    // to the newest follows, so that the upstream can be passed straight on afterwards.
    // Throws away part of the stretcher's start-up output still to be skipped; true if it did.
    bool dropStartDelay(int available) noexcept {
        if (toDrop_ == 0) {
            return false;
        }
        const auto n =
            std::min<std::size_t>({std::size_t(available), toDrop_, TimePitchNode::kBlockFrames});
        stretcher_->retrieve(discardPointers_.data(), n);
        toDrop_ -= n;
        return true;
    }

    void drain() noexcept {
        bypassing_ = true;
        stretcher_->setTimeRatio(1.0);
        // The input inside the stretcher: what went in less what came out. Taken out at rate
        // 1 (silence pushes it through), short of the join's search range.
        const double inside = double(fed_) - outContent_;
        const auto wanted = uint32_t(std::clamp(inside, 0.0, double(kTailFrames)));
        uint32_t length = 0;
        const uint32_t maxSteps = kTailFrames / TimePitchNode::kBlockFrames + 64;
        for (uint32_t steps = 0; length < wanted && steps < maxSteps; ++steps) {
            const int available = stretcher_->available();
            if (available <= 0) {
                stretcher_->process(silencePointers_.data(), TimePitchNode::kBlockFrames, false);
                continue;
            }
            if (dropStartDelay(available)) {
                continue;
            }
            const auto n = std::min<std::size_t>(std::size_t(available), wanted - length);
            for (uint32_t c = 0; c < channels_; ++c) {
                outAt_[c] = tailPointers_[c] + length;
            }
            stretcher_->retrieve(outAt_.data(), n);
            length += uint32_t(n);
        }
        toDrop_ = 0;
        tailAt_ = 0;
        tailLength_ = length;
        stretcher_->reset();
        if (length < kJoinFrames || historyFrames_ < kHistoryFrames) {
            return;
        }
        // Where the tail ends: back from its end while it is much quieter than the input.
        const auto energy = [this](auto sample, uint32_t from, uint32_t count) {
            double sum = 0.0;
            for (uint32_t c = 0; c < channels_; ++c) {
                for (uint32_t i = from; i < from + count; ++i) {
                    const double v = sample(c, i);
                    sum += v * v;
                }
            }
            return sum / double(count);
        };
        const auto tailSample = [this](uint32_t c, uint32_t i) { return tailPointers_[c][i]; };
        const auto historySample = [this](uint32_t c, uint32_t back) { return historyAt(c, back); };
        const double inputLevel = energy(historySample, 1, 1024);
        uint32_t end = length;
        while (end > kJoinFrames && energy(tailSample, end - kJoinFrames, kJoinFrames) <
                                        kTailLevel * kTailLevel * inputLevel) {
            end -= std::min<uint32_t>(32, end - kJoinFrames);
        }
        // The fade begins before the level shows it.
        end = end > kTailBackOff + kJoinFrames ? end - kTailBackOff : 0;
        if (end <= kJoinFrames) {
            return;
        }
        // The input frames after the tail's end: about what went in less what came out.
        const double expected = std::clamp(inside - double(end), double(kLagRange),
                                           double(kHistoryFrames - kJoinFrames - kLagRange - 1));
        const uint32_t joinAt = end - kJoinFrames;
        const auto score = [&](uint32_t lag) {
            double dot = 0.0;
            double power = 1e-12;
            for (uint32_t c = 0; c < channels_; ++c) {
                for (uint32_t i = 0; i < kJoinFrames; ++i) {
                    const double h = historyAt(c, lag + kJoinFrames - i);
                    dot += h * tailPointers_[c][joinAt + i];
                    power += h * h;
                }
            }
            return dot / std::sqrt(power);
        };
        // Outwards from the expected lag, so that where every lag scores alike (silence) the
        // expected one stays.
        uint32_t bestLag = uint32_t(expected);
        double bestScore = score(bestLag);
        for (uint32_t distance = 1; distance <= kLagRange; ++distance) {
            for (const uint32_t lag :
                 {uint32_t(expected) - distance, uint32_t(expected) + distance}) {
                if (const double value = score(lag); value > bestScore) {
                    bestScore = value;
                    bestLag = lag;
                }
            }
        }
        for (uint32_t c = 0; c < channels_; ++c) {
            float* tail = tailPointers_[c];
            for (uint32_t i = 0; i < kJoinFrames; ++i) {
                const float fade = (float(i) + 0.5f) / float(kJoinFrames);
                const float h = historyAt(c, bestLag + kJoinFrames - i);
                tail[joinAt + i] = tail[joinAt + i] * (1.0f - fade) + h * fade;
            }
            for (uint32_t i = 0; i < bestLag; ++i) {
                tail[end + i] = historyAt(c, bestLag - i);
            }
        }
        tailLength_ = end + bestLag;
    }

    // Plays out the tail, then passes the upstream on.
    // Pulls `frames` from `upstream`, telling it that its first frame is heard `offset` frames
    // of this node's output after this call's first, and that `pace` of its frames go by per
    // frame heard.
    const float* const* pullAt(const RenderStep& step, const RenderStep& upstream, uint32_t frames,
                               double offset, double pace) noexcept {
        RenderTime* time = step.time;
        if (time == nullptr) {
            return upstream.pull(frames);
        }
        const RenderTime saved = *time;
        time->start = spanStart_ + offset / linkRate_;
        time->pace = pace;
        time->part = time->newPart();
        const float* const* in = upstream.pull(frames);
        time->start = saved.start;
        time->pace = saved.pace;
        time->part = saved.part;
        return in;
    }

    const float* const* renderTail(const RenderStep& step, const RenderStep* upstream,
                                   uint32_t offset, uint32_t frames) noexcept {
        const uint32_t n = std::min(frames, tailLength_ - tailAt_);
        for (uint32_t c = 0; c < channels_; ++c) {
            std::memcpy(outPointers_[c] + offset, tailPointers_[c] + tailAt_, n * sizeof(float));
        }
        tailAt_ += n;
        if (n < frames) {
            if (upstream != nullptr) {
                const float* const* in = pullAt(step, *upstream, frames - n, n, 1.0);
                for (uint32_t c = 0; c < channels_; ++c) {
                    std::memcpy(outPointers_[c] + offset + n, in[c], (frames - n) * sizeof(float));
                }
            } else {
                clear(offset + n, frames - n);
            }
        }
        return outPointers_.data();
    }

    // Leaves rate 1: starts stretching the input from where the upstream is now. The stretcher
    // must see what comes next before its first output, since its output lags its input by its
    // start delay: it takes in the blocks up to the end of that delay at once, and they are
    // pulled here first. Where they are all silent (a clip that starts later), the spare the
    // main thread has run through exactly that much silence is in the very state the stretcher
    // would reach here, and takes over, so the start costs the render thread no more than a
    // steady block. Otherwise the current stretcher is primed here and takes in the blocks
    // pulled (the silent ones first, then the first one with sound); the rest follows as
    // rendering asks for it.
    void restart(const RenderStep& step, const RenderStep* upstream, float rate) noexcept {
        beginStretch(rate);
        Slot& spare = slots_[1 - active_];
        int expected = kReady;
        if (upstream == nullptr ||
            !spare.state.compare_exchange_strong(expected, kInUse, std::memory_order_acq_rel)) {
            restartWithCurrent(rate);
            return;
        }
        const uint32_t lead =
            spare.primedRate.load(std::memory_order_relaxed) == rate ? spare.silentBlocks : 0;
        uint32_t silentBlocks = 0;
        const float* const* sound = nullptr;
        while (silentBlocks < lead) {
            // Heard after what the stretcher holds ahead of the output (nothing rendered yet).
            const float* const* in = pullAt(step, *upstream, TimePitchNode::kBlockFrames,
                                            double(fed_) / double(rate), double(rate));
            fed_ += TimePitchNode::kBlockFrames;
            if (!isSilent(in, TimePitchNode::kBlockFrames)) {
                sound = in;
                break;
            }
            remember(silencePointers_.data(), TimePitchNode::kBlockFrames);
            ++silentBlocks;
        }
        if (sound == nullptr && lead > 0) {
            // Only the first restart may use what priming left; a later one primes again.
            spare.primedRate.store(0.0f, std::memory_order_relaxed);
            slots_[active_].state.store(kUsed, std::memory_order_release);
            active_ = 1 - active_;
            stretcher_ = spare.stretcher.get();
            toDrop_ = 0;
            return;
        }
        spare.state.store(kReady, std::memory_order_release);
        primeCurrent(rate);
        for (uint32_t b = 0; b < silentBlocks; ++b) {
            stretcher_->process(silencePointers_.data(), TimePitchNode::kBlockFrames, false);
        }
        if (sound != nullptr) {
            remember(sound, TimePitchNode::kBlockFrames);
            stretcher_->process(sound, TimePitchNode::kBlockFrames, false);
        }
    }

    // Leaves rate 1 with the stretcher the render thread holds, primed here.
    void restartWithCurrent(float rate) noexcept {
        beginStretch(rate);
        primeCurrent(rate);
    }

    void beginStretch(float rate) noexcept {
        historyFrames_ = 0;
        fed_ = 0;
        outContent_ = 0.0;
        currentRate_ = rate;
        bypassing_ = false;
    }

    // Primes the render thread's stretcher for `rate` (cheap: a reset and the silent pad, which
    // is shorter than the stretcher's window, so no analysis runs) and drops its start delay.
    void primeCurrent(float rate) noexcept {
        Slot& slot = slots_[active_];
        prime(slot, rate, 0);
        slot.primedRate.store(0.0f, std::memory_order_relaxed);
        toDrop_ = stretcher_->getStartDelay();
    }

    bool isSilent(const float* const* in, uint32_t frames) const noexcept {
        for (uint32_t c = 0; c < channels_; ++c) {
            for (uint32_t i = 0; i < frames; ++i) {
                if (in[c][i] != 0.0f) {
                    return false;
                }
            }
        }
        return true;
    }

    // A stretcher primed for `rate`: reset, set to that rate, and padded with silence so that
    // its output lines up with the input once its start delay is dropped. Rubber Band asks for
    // the starting rate to be set before the pad and the start delay are read. Then, up to
    // `maxSilentBlocks`, it takes in silent input blocks as a start from silence would and
    // drops its start delay, so that it is what such a start leaves behind; the blocks it took
    // are kept in the slot (0: too many were needed, and only the pad went in).
    struct Slot;
    void prime(Slot& slot, float rate, uint32_t maxSilentBlocks) const noexcept {
        RubberBandStretcher& stretcher = *slot.stretcher;
        stretcher.reset();
        stretcher.setTimeRatio(1.0 / double(rate));
        slot.primedRate.store(rate, std::memory_order_relaxed);
        slot.silentBlocks = 0;
        std::size_t pad = stretcher.getPreferredStartPad();
        while (pad > 0) {
            const std::size_t n = std::min<std::size_t>(pad, TimePitchNode::kBlockFrames);
            stretcher.process(silencePointers_.data(), n, false);
            pad -= n;
        }
        if (maxSilentBlocks == 0) {
            return;
        }
        // The same steps as rendering takes after a restart: input only when nothing is
        // available, the start delay dropped in pieces of at most a block.
        std::size_t toDrop = stretcher.getStartDelay();
        uint32_t blocks = 0;
        while (toDrop > 0 && blocks <= maxSilentBlocks) {
            const int available = stretcher.available();
            if (available > 0) {
                const auto n = std::min<std::size_t>(
                    {std::size_t(available), toDrop, TimePitchNode::kBlockFrames});
                stretcher.retrieve(primingDiscardPointers_.data(), n);
                toDrop -= n;
                continue;
            }
            stretcher.process(silencePointers_.data(), TimePitchNode::kBlockFrames, false);
            ++blocks;
        }
        if (toDrop > 0) {
            prime(slot, rate, 0);
            return;
        }
        slot.silentBlocks = blocks;
    }

    void clear(uint32_t offset, uint32_t frames) noexcept {
        for (uint32_t c = 0; c < channels_; ++c) {
            std::memset(outPointers_[c] + offset, 0, frames * sizeof(float));
        }
    }

    std::shared_ptr<TimePitchRequest> request_;
    float rate_;                // the rate played at now
    uint64_t seenVersion_ = 0;  // of the request last taken in
    bool pending_ = false;      // a rate waiting for its clock time
    float pendingRate_ = 1.0f;
    double pendingAt_ = 0.0;
    uint32_t channels_;
    uint32_t maxFrames_;
    double linkRate_;
    uint64_t part_ = 0;        // the engine part seen last
    uint64_t partFrames_ = 0;  // frames of it rendered so far
    double spanStart_ = 0.0;   // engine position of the span's first frame
    // Two stretchers: the render thread's and a spare that the main thread primes. A slot's
    // state says who may touch it.
    static constexpr int kReady = 0;    // primed; the render thread may take it
    static constexpr int kInUse = 1;    // the render thread's
    static constexpr int kUsed = 2;     // given back; the main thread may prime it
    static constexpr int kPriming = 3;  // the main thread's
    struct Slot {
        std::unique_ptr<RubberBandStretcher> stretcher;
        std::atomic<int> state{kUsed};
        // The rate it was primed for (0: not primed). Written by whoever holds the slot (see
        // state); read by the main thread to tell whether a ready spare suits a new rate.
        std::atomic<float> primedRate{0.0f};
        // The silent input blocks it has taken in after its pad (see prime); whoever holds it.
        uint32_t silentBlocks = 0;
    };
    Slot slots_[2];
    int active_ = 0;  // render thread
    RubberBandStretcher* stretcher_ = nullptr;
    std::vector<float> out_;
    std::vector<float*> outPointers_;
    std::vector<float*> outAt_;
    std::vector<float> silence_;
    std::vector<const float*> silencePointers_;
    std::vector<float> discard_;
    std::vector<float*> discardPointers_;
    // Where the main thread throws away what a spare gives while it is primed.
    std::vector<float> primingDiscard_;
    std::vector<float*> primingDiscardPointers_;
    std::vector<float> tail_;
    std::vector<float*> tailPointers_;
    uint32_t tailAt_ = 0;
    uint32_t tailLength_ = 0;
    std::vector<float> history_;
    std::size_t historyEnd_ = 0;
    uint64_t historyFrames_ = 0;
    uint64_t fed_ = 0;         // input frames given to the stretcher since its restart
    double outContent_ = 0.0;  // input frames its output so far stands for
    bool bypassing_ = true;
    bool passedOn_ = false;  // the last span is the upstream's own output, untouched
    float currentRate_ = 1.0f;
    std::size_t toDrop_ = 0;
};

}  // namespace

TimePitchNode::TimePitchNode() : request_(std::make_shared<TimePitchRequest>()) {}

void TimePitchNode::setRate(float rate) {
    setRate(rate, ClockTime(-std::numeric_limits<double>::infinity()));
}

void TimePitchNode::setRate(float rate, ClockTime atClockTime) {
    if (!std::isfinite(rate)) {
        return;
    }
    TimePitchRequest& request = *request_;
    const uint64_t version = request.version.load();
    request.version.store(version + 1);
    request.rate.store(std::clamp(rate, kMinRate, kMaxRate));
    request.at.store(std::isnan(atClockTime.seconds()) ? -std::numeric_limits<double>::infinity()
                                                       : atClockTime.seconds());
    request.version.store(version + 2);
    // The stretcher the render thread last gave back is primed here, ready for the next time
    // the node leaves rate 1.
    if (auto kernel = kernel_.lock()) {
        static_cast<TimePitchKernel&>(*kernel).primeSpares(request.rate.load());
    }
    changed();
}

float TimePitchNode::rate() const {
    return request_->rate.load();
}

std::shared_ptr<RenderKernel> TimePitchNode::makeKernel(const KernelSetup& setup) {
    auto kernel = std::make_shared<TimePitchKernel>(request_, setup);
    kernel_ = kernel;
    return kernel;
}

uint32_t TimePitchNode::maxInputFrames(const KernelSetup& setup) const {
    return std::max(setup.maxFrames, kBlockFrames);
}

}  // namespace kestio::platform::audio
