#include "platform/audio/audio_player_node.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/audio/audio_engine.h"
#include "platform/audio/channel_map.h"
#include "platform/audio/mixing_gain.h"
#include "platform/audio/player_read_ahead.h"
#include "platform/audio/render_step.h"
#include "platform/audio/stream_resampler.h"
#include "platform/audio/zeroed_frames.h"

namespace kestio::platform::audio {

namespace {

// Output frames converted per resampler call.
constexpr uint32_t kResampleChunk = 256;
// A stop or pause lets the sound it interrupts fade out over this long instead of cutting it.
constexpr double kFadeOutSeconds = 0.005;

// Reads the ring on the render thread and adapts its frames to the link format.
class PlayerKernel final : public RenderKernel {
  public:
    PlayerKernel(std::shared_ptr<PlayerReadAhead> readAhead, const KernelSetup& setup)
        : readAhead_(std::move(readAhead)),
          channels_(setup.output.channelCount),
          linkRate_(uint32_t(std::lround(setup.output.sampleRate))),
          out_(std::size_t(channels_) * std::max<uint32_t>(setup.maxFrames, 1)),
          outPointers_(channels_),
          chunkPointers_(channels_),
          resampler_(channels_, kResampleChunk),
          staging_(std::size_t(channels_) * resampler_.maxInputFrames()),
          stagingPointers_(channels_),
          // Room for a block, a resampler chunk's input, or a stop's fade, whichever is most.
          sourceFrames_(std::max({uint32_t(setup.maxFrames), uint32_t(resampler_.maxInputFrames()),
                                  uint32_t(std::lround(kFadeOutSeconds * double(linkRate_)))})),
          source_(std::size_t(SampleRing::kChannels) * sourceFrames_),
          sourcePointers_(SampleRing::kChannels),
          fadeFrames_(std::max(1u, uint32_t(std::lround(kFadeOutSeconds * double(linkRate_))))),
          fade_(std::size_t(channels_) * fadeFrames_),
          fadePointers_(channels_) {
        const std::size_t frames = std::max<uint32_t>(setup.maxFrames, 1);
        for (uint32_t c = 0; c < channels_; ++c) {
            outPointers_[c] = out_.data() + c * frames;
            stagingPointers_[c] = staging_.data() + std::size_t(c) * resampler_.maxInputFrames();
            fadePointers_[c] = fade_.data() + std::size_t(c) * fadeFrames_;
        }
        for (uint32_t c = 0; c < SampleRing::kChannels; ++c) {
            sourcePointers_[c] = source_.data() + std::size_t(c) * sourceFrames_;
        }
        target_ = outPointers_.data();
        for (uint32_t source = 1; source <= SampleRing::kChannels; ++source) {
            mixes_[source] = defaultChannelMix(source, channels_);
        }
    }

    const float* const* render(const RenderStep& step, uint32_t frames) noexcept override {
        PlayerReadAhead& shared = *readAhead_;
        PlayerReadAhead::Consumer& consumer = shared.consumer;

        const uint64_t flush = shared.flushEpoch.load(std::memory_order_acquire);
        if (flush != consumer.seenFlush) {
            if (consumer.moving) {
                // The dropped schedule's next frames fade out on top of what follows.
                fadeOut(shared, shared.flushUpTo.load(std::memory_order_relaxed));
            }
            consumer.seenFlush = flush;
            consumer.read =
                std::max(consumer.read, shared.flushUpTo.load(std::memory_order_relaxed));
            resampler_.reset();
            consumer.played = 0;
            consumer.moving = false;
        }
        adoptMarks(shared);

        // The engine position of this call's first frame: the part's start, plus what was
        // rendered of the part before (a node on the way may pull in pieces).
        bool firstInPart = false;
        if (step.time != nullptr && step.time->part != consumer.part) {
            consumer.part = step.time->part;
            consumer.partFrames = 0.0;
            firstInPart = true;
        }
        const double rate = double(linkRate_);
        const double pace = step.time != nullptr ? step.time->pace : 1.0;
        const double at =
            step.time != nullptr ? step.time->start + consumer.partFrames / (rate * pace) : 0.0;
        consumer.partFrames += frames;

        bool playing = shared.playing.load(std::memory_order_acquire);
        uint32_t lead = 0;         // silence before the schedule starts in this call
        bool startsLater = false;  // a timed start after this call
        if (playing) {
            const uint64_t serial = shared.startSerial.load(std::memory_order_acquire);
            if (serial != consumer.seenStart) {
                const double startAt = shared.startAt.load(std::memory_order_relaxed);
                if (std::isfinite(startAt) && step.time != nullptr) {
                    const double ahead = std::round((startAt - at) * rate * pace);
                    if (ahead >= double(frames)) {
                        playing = false;  // not yet
                        startsLater = true;
                    } else if (ahead > 0.0) {
                        lead = uint32_t(ahead);
                    }
                }
                if (playing) {
                    consumer.seenStart = serial;
                }
            }
        }
        const uint64_t generation = shared.generation.load(std::memory_order_acquire);
        const auto note = [&](double offset, bool moving) {
            shared.positions.note(
                {at + offset / (rate * pace), double(consumer.played) / rate, moving, generation});
            consumer.moving = moving;
        };
        if (playing && (firstInPart || !consumer.moving || lead > 0)) {
            note(lead, true);
        } else if (!playing && consumer.moving) {
            // Paused: the schedule moves on while its next frames fade out, and holds after.
            const uint32_t faded = fadeOut(shared, std::numeric_limits<uint64_t>::max());
            consumer.played += faded;
            note(faded, false);
        }

        uint32_t produced = lead;
        for (uint32_t c = 0; c < channels_ && lead > 0; ++c) {
            std::memset(outPointers_[c], 0, lead * sizeof(float));
        }
        if (playing) {
            while (produced < frames) {
                adoptMarks(shared);
                if (readable(shared) == 0) {
                    break;  // nothing read ahead: the rest is silence
                }
                produced += consumer.current && consumer.current->sampleRate != linkRate_
                                ? renderResampled(shared, produced, frames - produced)
                                : renderDirect(shared, produced, frames - produced);
            }
        }
        if (playing) {
            consumer.played += produced - lead;
            if (produced < frames) {
                note(produced, false);  // ran out of sound: the schedule holds
            }
        }
        if (produced == 0 && fadeAt_ >= fadeLength_) {
            // Nothing scheduled to play here and no fade-out left: silence; before a timed
            // start, or while the rest of a playing schedule is still being read ahead, silence
            // that ends by itself.
            zeroes_.clear(outPointers_.data(), channels_, frames);
            if (!startsLater && !(playing && shared.pending.load(std::memory_order_acquire))) {
                step.markSilent();
            }
        } else {
            zeroes_.dirty();
            for (uint32_t c = 0; c < channels_; ++c) {
                std::memset(outPointers_[c] + produced, 0, (frames - produced) * sizeof(float));
            }
            mixFadeOut(frames);
        }
        shared.ring.setReadIndex(consumer.read);
        return outPointers_.data();
    }

  private:
    // Renders up to the fade's length of the frames at the read position, before index
    // `limit`, into the fade buffer and shapes them from full level down to silence in a
    // straight line. Returns the frames taken from the schedule.
    uint32_t fadeOut(PlayerReadAhead& shared, uint64_t limit) noexcept {
        target_ = fadePointers_.data();
        limit_ = limit;
        uint32_t produced = 0;
        while (produced < fadeFrames_) {
            adoptMarks(shared);
            if (readable(shared) == 0) {
                break;
            }
            produced += shared.consumer.current && shared.consumer.current->sampleRate != linkRate_
                            ? renderResampled(shared, produced, fadeFrames_ - produced)
                            : renderDirect(shared, produced, fadeFrames_ - produced);
        }
        target_ = outPointers_.data();
        limit_ = std::numeric_limits<uint64_t>::max();
        for (uint32_t c = 0; c < channels_; ++c) {
            float* samples = fadePointers_[c];
            for (uint32_t i = 0; i < produced; ++i) {
                samples[i] *= float(fadeFrames_ - i) / float(fadeFrames_);
            }
        }
        fadeAt_ = 0;
        fadeLength_ = produced;
        return produced;
    }

    // Adds what is left of a fade-out to the start of this call's output.
    void mixFadeOut(uint32_t frames) noexcept {
        const uint32_t n = std::min(frames, fadeLength_ - fadeAt_);
        for (uint32_t c = 0; c < channels_ && n > 0; ++c) {
            const float* from = fadePointers_[c] + fadeAt_;
            float* into = outPointers_[c];
            for (uint32_t i = 0; i < n; ++i) {
                into[i] += from[i];
            }
        }
        fadeAt_ += n;
    }

    // Takes every mark the read position has reached; the last one describes the frames there.
    void adoptMarks(PlayerReadAhead& shared) noexcept {
        while (const auto* mark = shared.marks.front()) {
            if (mark->index > shared.consumer.read) {
                break;
            }
            shared.consumer.current = *mark;
            shared.marks.discardFront();
        }
        const auto& current = shared.consumer.current;
        if (current && !(configured_ && *configured_ == *current)) {
            configured_ = current;
            sourceChannels_ = current->channels;
            if (current->sampleRate != linkRate_) {
                resampler_.setTable(shared.tables.find(current->sampleRate, linkRate_), channels_);
            }
        }
    }

    // Frames readable before the next change of format.
    uint32_t readable(const PlayerReadAhead& shared) const noexcept {
        uint64_t limit = std::min(
            {shared.ring.writeIndex(), limit_, shared.endAt.load(std::memory_order_acquire)});
        if (const auto* next = shared.marks.front()) {
            limit = std::min(limit, next->index);
        }
        const uint64_t read = shared.consumer.read;
        return limit > read ? uint32_t(std::min<uint64_t>(limit - read, 1u << 30)) : 0;
    }

    // Reads `frames` frames at the read position and mixes them into the link's channels.
    void copyMapped(const PlayerReadAhead& shared, float* const* into, uint32_t offset,
                    uint32_t frames) noexcept {
        const uint32_t sources = std::clamp<uint32_t>(sourceChannels_, 1, SampleRing::kChannels);
        for (uint32_t c = 0; c < sources; ++c) {
            shared.ring.copyOut(c, shared.consumer.read, sourcePointers_[c], frames);
        }
        applyChannelMix(mixes_[sources], sourcePointers_.data(), into, frames, offset);
    }

    uint32_t renderDirect(PlayerReadAhead& shared, uint32_t offset, uint32_t wanted) noexcept {
        const uint32_t n = std::min(wanted, readable(shared));
        if (n > 0) {
            copyMapped(shared, target_, offset, n);
            shared.consumer.read += n;
        }
        return n;
    }

    uint32_t renderResampled(PlayerReadAhead& shared, uint32_t offset, uint32_t wanted) noexcept {
        const uint32_t available = readable(shared);
        uint32_t chunk = std::min(wanted, kResampleChunk);
        for (uint32_t c = 0; c < channels_; ++c) {
            chunkPointers_[c] = target_[c] + offset;
        }
        if (resampler_.table() == nullptr) {
            // No conversion for this rate: skip its frames in time, silently.
            const auto skip =
                uint32_t(std::ceil(double(chunk) * configured_->sampleRate / double(linkRate_)));
            shared.consumer.read += std::min(skip, available);
            for (uint32_t c = 0; c < channels_; ++c) {
                std::memset(chunkPointers_[c], 0, chunk * sizeof(float));
            }
            return chunk;
        }
        uint32_t needed = resampler_.inputFramesFor(chunk);
        if (needed > available) {
            // The frames of this format end here (or have not been read ahead yet): give the
            // output they cover, with silence ahead of them for the filter to look into.
            chunk = resampler_.outputFramesWithin(available, chunk);
            if (chunk == 0) {
                shared.consumer.read += available;
                resampler_.reset();
                return 0;
            }
            needed = resampler_.inputFramesFor(chunk);
        }
        const uint32_t take = std::min(needed, available);
        copyMapped(shared, stagingPointers_.data(), 0, take);
        for (uint32_t c = 0; c < channels_; ++c) {
            std::memset(stagingPointers_[c] + take, 0, (needed - take) * sizeof(float));
        }
        resampler_.process(stagingPointers_.data(), needed, chunkPointers_.data(), chunk);
        shared.consumer.read += take;
        return chunk;
    }

    std::shared_ptr<PlayerReadAhead> readAhead_;
    uint32_t channels_;
    uint32_t linkRate_;
    std::vector<float> out_;
    std::vector<float*> outPointers_;
    std::vector<float*> chunkPointers_;
    StreamResampler resampler_;
    std::vector<float> staging_;
    std::vector<float*> stagingPointers_;
    uint32_t sourceFrames_;      // room per source channel
    std::vector<float> source_;  // the ring's frames before the mix
    std::vector<float*> sourcePointers_;
    std::array<ChannelMix, SampleRing::kChannels + 1> mixes_;
    std::optional<PlayerReadAhead::FormatMark> configured_;
    uint32_t sourceChannels_ = 0;
    // Where renderDirect and renderResampled write (the output or the fade buffer), and the
    // index they read up to.
    float* const* target_ = nullptr;
    uint64_t limit_ = std::numeric_limits<uint64_t>::max();
    // The fade-out of a stop or pause: its samples, and how much of them is already heard.
    uint32_t fadeFrames_;
    std::vector<float> fade_;
    std::vector<float*> fadePointers_;
    uint32_t fadeAt_ = 0;
    uint32_t fadeLength_ = 0;
    ZeroedFrames zeroes_;
};

}  // namespace

AudioPlayerNode::AudioPlayerNode(std::shared_ptr<FileFrameReader> reader)
    : readAhead_(std::make_shared<PlayerReadAhead>(std::move(reader))),
      gain_(std::make_shared<MixingGain>()) {}

AudioPlayerNode::~AudioPlayerNode() {
    closing_ = true;
    readAhead_->quit();  // items scheduled from here on (by the completions below) are dropped
    auto pending = readAhead_->stop();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // destroyed by one of its own completions; it ends by itself
        } else {
            thread_.join();
        }
    }
    for (auto& completion : pending) {
        completion();
    }
}

void AudioPlayerNode::ensureThread() {
    if (!thread_.joinable() && !closing_) {
        thread_ = std::thread([readAhead = readAhead_] {
            pthread_setname_np(pthread_self(), "audio readahead");
            readAhead->run();
        });
    }
}

void AudioPlayerNode::scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer,
                                     Completion completion) {
    ensureThread();
    PlayerReadAhead::Item item;
    item.count = buffer ? buffer->frameLength() : 0;
    item.buffer = std::move(buffer);
    item.completion = std::move(completion);
    readAhead_->schedule(std::move(item));
    changed();
}

void AudioPlayerNode::scheduleSegment(std::shared_ptr<AudioFile> file, int64_t startFrame,
                                      uint64_t frameCount, Completion completion) {
    ensureThread();
    PlayerReadAhead::Item item;
    item.count = file ? frameCount : 0;
    item.file = std::move(file);
    item.start = std::max<int64_t>(startFrame, 0);
    item.completion = std::move(completion);
    readAhead_->schedule(std::move(item));
    changed();
}

void AudioPlayerNode::endScheduleAfter(uint64_t frames) {
    for (auto& completion : readAhead_->endAfter(frames)) {
        completion();
    }
    changed();
}

void AudioPlayerNode::play() {
    play(ClockTime(std::numeric_limits<double>::quiet_NaN()));
}

void AudioPlayerNode::play(ClockTime atClockTime) {
    if (readAhead_->playing.load(std::memory_order_acquire)) {
        return;
    }
    readAhead_->startAt.store(atClockTime.seconds(), std::memory_order_relaxed);
    readAhead_->startSerial.fetch_add(1, std::memory_order_release);
    readAhead_->playing.store(true, std::memory_order_release);
    changed();
}

std::optional<double> AudioPlayerNode::playerTime() const {
    const AudioEngine* owner = engine();
    if (owner == nullptr) {
        return playerTime(ClockTime());
    }
    return playerTime(owner->clock()->timeAt(owner->device().hostNow()));
}

std::optional<double> AudioPlayerNode::playerTime(ClockTime clockTime) const {
    const auto time = readAhead_->positions.timeAt(
        clockTime.seconds(), readAhead_->generation.load(std::memory_order_acquire));
    if (!time && isPlaying()) {
        return 0.0;  // started, not rendered yet
    }
    return time;
}

void AudioPlayerNode::pause() {
    readAhead_->playing.store(false, std::memory_order_release);
    changed();
}

void AudioPlayerNode::stop() {
    for (auto& completion : readAhead_->stop()) {
        completion();
    }
    changed();
}

bool AudioPlayerNode::isPlaying() const {
    return readAhead_->playing.load(std::memory_order_acquire);
}

void AudioPlayerNode::setVolume(float volume) {
    gain_->set(volume);
    changed();
}

void AudioPlayerNode::rampVolume(float volume, double seconds, ClockTime atClockTime) {
    gain_->ramp(volume, seconds, atClockTime.seconds());
    changed();
}

float AudioPlayerNode::volume() const {
    return gain_->target();
}

bool AudioPlayerNode::waitUntilPrepared(double wallSeconds) {
    return readAhead_->waitUntilPrepared(wallSeconds);
}

std::shared_ptr<RenderKernel> AudioPlayerNode::makeKernel(const KernelSetup& setup) {
    return std::make_shared<PlayerKernel>(readAhead_, setup);
}

std::shared_ptr<MixingGain> AudioPlayerNode::mixingGain() const {
    return gain_;
}

void AudioPlayerNode::willRenderTo(const AudioFormat& output) {
    readAhead_->setLinkRate(uint32_t(std::lround(output.sampleRate)));
}

}  // namespace kestio::platform::audio
