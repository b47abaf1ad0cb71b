#include "platform/media/paired_clip_player.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_file.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/time_pitch_node.h"
#include "platform/media/decoded_player_looper.h"

namespace kestio::platform::media {

namespace {
// How often a start waiting for the sound's read-ahead looks again: every millisecond at
// first (a read-ahead takes a few, and each one waited is one more before the cue is heard),
// less often once the sound is slow to come.
constexpr double kQuickPollSeconds = 0.001;
constexpr double kQuickPollFor = 0.05;
constexpr double kPollSeconds = 0.005;
// Item times this close are one position (far below any frame's length).
constexpr double kSamePosition = 1e-4;
}  // namespace

PairedClipPlayer::PairedClipPlayer(RunLoop& loop, audio::AudioEngine& engine,
                                   std::shared_ptr<QueuePlayer> player,
                                   std::shared_ptr<audio::AudioPlayerNode> node,
                                   std::shared_ptr<audio::TimePitchNode> stretch)
    : loop_(loop),
      engine_(engine),
      player_(std::move(player)),
      node_(std::move(node)),
      stretch_(std::move(stretch)),
      clock_(std::make_shared<SoundClock>(loop_, engine_.clock(), node_)),
      soundLoop_(loop_, node_) {
    player_->setClock(clock_);
}

PairedClipPlayer::~PairedClipPlayer() {
    self_.reset();
    cancel(false);
}

void PairedClipPlayer::cancel(bool answer, bool keepSound) {
    ++generation_;
    poll_.cancel();
    soundLoop_.stop();
    prepared_.reset();
    if (pending_) {
        auto onReady = std::move(pending_->onReady);
        pending_.reset();
        if (answer && onReady) {
            loop_.post([onReady = std::move(onReady)] { onReady(false); });
        }
    }
    if (!keepSound) {
        node_->stop();
    }
    clock_->stop();
    // A stretcher left at another rate would go on working through the silence of a player
    // that plays nothing; the next start sets the rate it plays at.
    if (stretch_) {
        stretch_->setRate(1.0f);
    }
}

void PairedClipPlayer::prepare(Clip clip, ItemTime from) {
    cancel(true);
    startTime_.set(std::nullopt);
    player_->setRate(0.0f);
    looper_.reset();
    clip_ = std::move(clip);
    if (!clip_.item || clip_.loop || !clip_.sound) {
        return;
    }
    scheduleSound(from);
    prepared_ = Prepared{clip_.item, clip_.sound, from.seconds()};
}

void PairedClipPlayer::play(Clip clip, ItemTime from, ClockTime atClockTime,
                            std::function<void(bool)> onReady) {
    // The sound prepared for this clip from here is read ahead already: it is kept.
    const bool prepared = prepared_ && !clip.loop && clip.item == prepared_->item &&
                          clip.sound == prepared_->sound &&
                          std::abs(from.seconds() - prepared_->from) < kSamePosition;
    cancel(true, prepared);
    startTime_.set(std::nullopt);
    player_->setRate(0.0f);
    clip_ = std::move(clip);
    looper_.reset();
    if (!clip_.item) {
        if (onReady) {
            loop_.post([onReady = std::move(onReady)] { onReady(false); });
        }
        return;
    }
    if (clip_.loop) {
        looper_ = std::make_unique<DecodedPlayerLooper>(player_, clip_.item, clip_.loop);
        // The looper positions every pass at the range start; a start inside the range (a
        // paused loop resumed) moves only the first pass there, and the sound's first pass
        // follows the picture's (see prerollPicture()).
        if (from.seconds() > clip_.loop->start && from.seconds() < clip_.loop->end()) {
            player_->seek(from.seconds(), 0.0, 0.0);
        }
    } else if (!standsAt(from)) {
        player_->replaceAllItems({clip_.item});
        player_->seek(from.seconds(), 0.0, 0.0);
    }
    if (!clip_.loop && !prepared) {
        scheduleSound(from);
    }
    pending_ = Pending{atClockTime, std::move(onReady), false, loop_.now()};
    prerollPicture(generation_);
    lookAgain();
}

void PairedClipPlayer::lookAgain() {
    const bool quick = loop_.now() - pending_->since < kQuickPollFor;
    poll_ = loop_.after(quick ? kQuickPollSeconds : kPollSeconds, [this] {
        check();
        if (pending_) {
            lookAgain();
        }
    });
}

bool PairedClipPlayer::standsAt(ItemTime from) const {
    // A clip loaded ahead (a preload, a cue stood by) already stands at its start with its
    // picture decoded: taking it again, or seeking it there, would decode it once more while
    // its sound waits.
    const auto current = player_->current();
    return current && current == clip_.item && current->statusValue() == ItemStatus::ReadyToPlay &&
           std::abs(current->currentTime() - from.seconds()) < kSamePosition;
}

void PairedClipPlayer::seekAndPlay(ItemTime itemTime, ClockTime atClockTime,
                                   std::function<void(bool)> onReady) {
    Clip clip = clip_;
    play(std::move(clip), itemTime, atClockTime, std::move(onReady));
}

void PairedClipPlayer::prerollPicture(std::uint64_t generation) {
    std::weak_ptr<PairedClipPlayer*> weak = self_;
    player_->preroll(rate_, [weak, generation](bool finished) {
        const auto self = weak.lock();
        if (!self || (*self)->generation_ != generation || !(*self)->pending_) {
            return;
        }
        PairedClipPlayer& player = **self;
        const auto current = player.player_->current();
        if (!current || current->statusValue() == ItemStatus::Failed) {
            player.cancel(true);
            return;
        }
        if (!finished) {
            // A seek of the looper's (its range clamped once the duration was known) came
            // first: ask again.
            player.prerollPicture(generation);
            return;
        }
        player.pending_->pictureReady = true;
        if (player.looper_) {
            // The looper's range is clamped to the item by now: the sound loops the same one,
            // its first pass from where the picture's begins.
            player.scheduleSound(ItemTime(player.player_->currentTime()));
        }
        player.check();
    });
}

void PairedClipPlayer::scheduleSound(ItemTime from) {
    soundLength_ = 0.0;
    if (!clip_.sound) {
        return;
    }
    const double rate = clip_.sound->processingFormat().sampleRate;
    const auto length = clip_.sound->length();
    if (clip_.loop) {
        // The picture's range, clamped to the sound by the same rule as the looper clamps it
        // to the item.
        const TimeRange range = loopRangeWithin(
            looper_ && looper_->range() ? *looper_->range() : *clip_.loop, double(length) / rate);
        const auto start = std::clamp<std::int64_t>(std::llround(range.start * rate), 0, length);
        const auto end = std::clamp<std::int64_t>(std::llround(range.end() * rate), start, length);
        soundLength_ = INFINITY;
        passFrames_ = std::uint64_t(end > start ? end - start : length - start);
        firstPassSkip_ = 0;
        if (passFrames_ == 0) {
            return;
        }
        // A first pass that begins inside the range: the frames before `from` are skipped.
        if (std::isfinite(from.seconds()) && from.seconds() > range.start) {
            firstPassSkip_ = std::min<std::uint64_t>(
                std::uint64_t(std::llround((from.seconds() - range.start) * rate)),
                passFrames_ - 1);
        }
        const std::uint64_t firstPass = passFrames_ - firstPassSkip_;
        if (!looper_->isLooping()) {
            // The loop was ended before its start: one pass, as the picture plays.
            soundLength_ = double(firstPass) / rate;
            node_->scheduleSegment(clip_.sound, start + std::int64_t(firstPassSkip_), firstPass);
            return;
        }
        if (firstPassSkip_ > 0) {
            node_->scheduleSegment(clip_.sound, start + std::int64_t(firstPassSkip_), firstPass);
        }
        soundLoop_.start(clip_.sound, start, passFrames_);
        return;
    }
    const auto start = std::clamp<std::int64_t>(std::llround(from.seconds() * rate), 0, length);
    const auto end = std::max(start, itemEndFrame(rate, length));
    soundStart_ = start;
    soundEnd_ = end;
    node_->scheduleSegment(clip_.sound, start, std::uint64_t(end - start));
    soundLength_ = double(end - start) / rate;
}

std::int64_t PairedClipPlayer::itemEndFrame(double rate, std::int64_t length) const {
    const double end = clip_.item ? clip_.item->forwardPlaybackEndTime() : NAN;
    if (!std::isfinite(end)) {
        return length;
    }
    return std::clamp<std::int64_t>(std::llround(end * rate), 0, length);
}

void PairedClipPlayer::followItemEnd() {
    if (!clip_.item || clip_.loop || !clip_.sound || (!pending_ && !startTime_.get())) {
        return;
    }
    const double rate = clip_.sound->processingFormat().sampleRate;
    const auto end = std::max(soundStart_, itemEndFrame(rate, clip_.sound->length()));
    if (end > soundEnd_) {
        // A later end: the sound goes on from where the schedule was cut, without a seam, and
        // the cut is lifted.
        node_->scheduleSegment(clip_.sound, soundEnd_, std::uint64_t(end - soundEnd_));
        node_->endScheduleAfter(UINT64_MAX);
    } else {
        node_->endScheduleAfter(std::uint64_t(end - soundStart_));
    }
    soundEnd_ = end;
    soundLength_ = double(end - soundStart_) / rate;
    if (startTime_.get()) {
        clock_->setLength(soundLength_);
    }
}

void PairedClipPlayer::check() {
    if (!pending_ || !pending_->pictureReady) {
        return;
    }
    if (clip_.sound && !node_->waitUntilPrepared(0.0)) {
        return;
    }
    start();
}

void PairedClipPlayer::start() {
    poll_.cancel();
    const ClockTime now = engine_.clock()->timeAt(loop_.now());
    const ClockTime at = std::max(pending_->atClockTime, now);
    auto onReady = std::move(pending_->onReady);
    pending_.reset();
    if (clip_.sound) {
        if (stretch_) {
            stretch_->setRate(rate_);
        }
        node_->play(at);
        clock_->start(at, rate_, soundLength_);
    }
    player_->setRate(rate_, at);
    startTime_.set(at);
    if (onReady) {
        loop_.post([onReady = std::move(onReady)] { onReady(true); });
    }
}

void PairedClipPlayer::setRate(float rate, ClockTime atClockTime) {
    if (!std::isfinite(rate) || rate <= 0.0f) {
        return;
    }
    rate_ = rate;
    if (!startTime_.get()) {
        return;
    }
    player_->setRate(rate, atClockTime);
    if (clip_.sound) {
        if (stretch_) {
            stretch_->setRate(rate, atClockTime);
        }
        clock_->changeRate(rate, atClockTime);
    }
}

void PairedClipPlayer::endLoop() {
    if (!looper_ || !looper_->isLooping()) {
        return;
    }
    // The picture's pass playing now is the one after the seams the looper has counted; it
    // plays to the range end and no pass follows it.
    const auto passes = std::uint64_t(looper_->loopCount()) + 1;
    looper_->disableLooping();
    if (!clip_.sound || passFrames_ == 0) {
        return;
    }
    // The sound's passes follow each other in the node's schedule from its start: it ends where
    // the picture's pass does, passes already read ahead beyond it dropped.
    const std::uint64_t end = passes * passFrames_ - firstPassSkip_;
    soundLoop_.stop();
    node_->endScheduleAfter(end);
    clock_->setLength(double(end) / clip_.sound->processingFormat().sampleRate);
}

void PairedClipPlayer::stop() {
    cancel(true);
    player_->setRate(0.0f);
    looper_.reset();
    startTime_.set(std::nullopt);
}

}  // namespace kestio::platform::media
