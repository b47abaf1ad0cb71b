#include "playback/clip_clock.h"

#include <cmath>
#include <utility>

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/media/queue_player.h"
#include "playback/post_roll_policy.h"

namespace kestio {

namespace {
// The period of the published position.
constexpr double kClockPeriod = 0.05;
// Durations closer than this are the same for publishing.
constexpr double kDurationEpsilon = 0.001;
// The audio-only clock counts a position this close to its end as the end.
constexpr double kEndEpsilon = 1e-6;
}  // namespace

ClipClock::ClipClock(platform::RunLoop& loop, const output::OutputSurface& view, NowPlaying now,
                     const PostRollPolicy& policy, PlayEvents& events)
    : loop_(loop), view_(view), now_(now), policy_(policy), events_(events) {}

ClipClock::~ClipClock() {
    stop();
}

void ClipClock::stop() {
    timeObserver_.reset();
    outPointObserver_.reset();
    endObserver_.reset();
    stillTimer_.cancel();
    stillEndTimer_.cancel();
    audioTimer_.cancel();
    audioEndTimer_.cancel();
    frozenEnd_.cancel();
    watchedPlayer_.reset();
    watchesVideo_ = false;
    play_.reset();
}

std::optional<SlotRef> ClipClock::slotOnAir() const {
    if (const auto& onAir = view_.foreground()) {
        return onAir->ref;
    }
    return std::nullopt;
}

void ClipClock::start(Play& play, const AudioWatch& audio) {
    play_ = play.weak_from_this();
    watchesVideo_ = false;
    audioSlot_ = &audio.slot;
    startAudio(play, audio.from, audio.end);
}

void ClipClock::runAudio(double from, double end) {
    if (const auto play = inForce(play_)) {
        startAudio(*play, from, end);
    }
}

void ClipClock::moveAudioEnd(double end) {
    audioEnd_ = end;
    if (isAudioRunning()) {
        runAudio(audioStart_, end);
    }
}

void ClipClock::stopAudio() {
    audioTimer_.cancel();
    audioEndTimer_.cancel();
}

void ClipClock::start(Play& play, const VideoWatch& video) {
    play_ = play.weak_from_this();
    timeObserver_.reset();
    outPointObserver_.reset();
    auto& player = *video.slot.player();
    watchesVideo_ = true;
    videoInPoint_ = video.inPoint;
    videoFps_ = video.fps;
    armOutPoint(play, player, video.outPoint);
    timeObserver_ = player.addPeriodicTimeObserver(
        kClockPeriod,
        stepOf(play, [this](Play& current, double time) { periodicTime(current, time); }));
    watchedPlayer_ = video.slot.player();
    if (video.item) {
        endObserver_ = video.item->onDidPlayToEnd(
            stepOf(play, [this](Play& current) { itemDidPlayToEnd(current); }));
    }
}

std::optional<double> ClipClock::armOutPoint(Play& play, platform::media::QueuePlayer& player,
                                             std::optional<double> outPoint) {
    outPointObserver_.reset();
    if (!outPoint || !std::isfinite(*outPoint) || !(videoInPoint_ < *outPoint)) {
        return std::nullopt;
    }
    // A frame rate that is unknown (0) or not a number counts as 30, not as 1 frame a second.
    const double rate =
        std::isfinite(videoFps_) && videoFps_ > 0.0 ? std::max(videoFps_, 1.0) : 30.0;
    const double target = std::max(*outPoint - 1.0 / rate, videoInPoint_);
    outPointObserver_ = player.addBoundaryTimeObserver(
        {target}, stepOf(play, [this](Play& current) { outPointReached(current); }));
    return target;
}

void ClipClock::moveOutPoint(std::optional<double> outPoint) {
    const auto play = inForce(play_);
    if (!play || !watchesVideo_ || !watchedPlayer_) {
        return;
    }
    const auto target = armOutPoint(*play, *watchedPlayer_, outPoint);
    // An out point moved to the picture on screen or behind it is reached already: its
    // post-roll comes now, not once the player has gone back to it and played on to its end.
    if (target && watchedPlayer_->currentTime() >= *target) {
        outPointReached(*play);
    }
}

void ClipClock::outPointReached(Play& play) {
    if (!watchedPlayer_ || play.postRollFired || watchedPlayer_->rateValue() == 0.0f) {
        return;
    }
    play.postRollFired = true;
    const double time = watchedPlayer_->currentTime();
    now_.currentTime.set(time);
    const auto item = watchedPlayer_->current();
    const double end = item ? item->forwardPlaybackEndTime() : time;
    const double untilEnd = timeUntil(end, time);
    loop_.post(stepOf(play, [this, untilEnd](Play& current) {
        if (const auto onAir = slotOnAir()) {
            dueAheadOfTheEnd(current, *onAir, untilEnd);
        }
    }));
}

double ClipClock::timeUntil(double end, double time) const {
    const double rate = watchedPlayer_ ? watchedPlayer_->rateValue() : 1.0;
    if (!std::isfinite(end) || !(end > time) || !(rate > 0.0f)) {
        return 0.0;
    }
    return (end - time) / rate;
}

void ClipClock::dueAheadOfTheEnd(Play& play, SlotRef onAir, double untilEnd) {
    const PostRollMode mode = policy_.atEnd(onAir);
    events_.postRollDue(mode);
    if (mode != PostRollMode::freeze || !(untilEnd > 0.0) || play.ended) {
        return;
    }
    // Frozen a little ahead of its end: until that end, the clip has not ended for the
    // operator, and a post-roll chosen meanwhile is carried out there.
    frozenEnd_ = loop_.after(untilEnd, stepOf(play, [this, onAir](Play& current) {
                                 if (!current.postRollFired || slotOnAir() != onAir ||
                                     !watchedPlayer_ || watchedPlayer_->rateValue() != 0.0f) {
                                     return;
                                 }
                                 if (const PostRollMode chosen = policy_.atEnd(onAir);
                                     chosen != PostRollMode::freeze) {
                                     events_.postRollDue(chosen);
                                 }
                             }));
}

void ClipClock::periodicTime(Play& play, double time) {
    if (!watchedPlayer_) {
        return;
    }
    const auto item = watchedPlayer_->current();
    if (!item || now_.isSeeking) {
        return;
    }
    now_.currentTime.set(time);
    double itemDuration = item->duration();
    if (std::isnan(itemDuration)) {
        itemDuration = 1.0;
    }
    if (std::fabs(itemDuration - now_.duration.get()) > kDurationEpsilon) {
        now_.duration.set(itemDuration);
    }
    const auto onAir = slotOnAir();
    if (!onAir || play.postRollFired) {
        return;
    }
    // Only a running clip decides: a paused or frozen one waits.
    if (watchedPlayer_->rateValue() != 0.0f &&
        policy_.isDueBeforeTheEnd(*onAir, time, itemDuration)) {
        play.postRollFired = true;
        // Where the clip ends: its out point, else its item's end.
        const double forwardEnd = item->forwardPlaybackEndTime();
        const double end =
            std::isfinite(forwardEnd) && forwardEnd < itemDuration ? forwardEnd : itemDuration;
        loop_.post(
            stepOf(play, [this, onAir = *onAir, untilEnd = timeUntil(end, time)](Play& current) {
                // Only while that slot is still on air.
                if (slotOnAir() == onAir) {
                    dueAheadOfTheEnd(current, onAir, untilEnd);
                }
            }));
    }
}

void ClipClock::itemDidPlayToEnd(Play& play) {
    if (!slotOnAir() || play.postRollFired) {
        return;
    }
    play.postRollFired = true;
    events_.postRollDueOnAir();
}

void ClipClock::start(Play& play, const StillWatch& still) {
    play_ = play.weak_from_this();
    watchesVideo_ = false;
    stillTimer_.cancel();
    stillEndTimer_.cancel();
    const platform::HostTime now = loop_.now();
    stillStartedAt_ = still.since.value_or(now);
    stillDuration_ = std::isfinite(still.seconds) && still.seconds > 0.0 ? still.seconds : 0.0;
    stillTimer_ = loop_.every(kClockPeriod, stepOf(play, [this] { stillTick(); }));
    // The end comes exactly at the duration on the host clock, not at the next tick after it.
    stillEndTimer_ = loop_.after(std::max(stillDuration_ - (now - stillStartedAt_), 0.0),
                                 stepOf(play, [this] { stillTick(); }));
}

void ClipClock::stillTick() {
    const double elapsed = loop_.now() - stillStartedAt_;
    now_.currentTime.set(std::min(elapsed, stillDuration_));
    if (elapsed < stillDuration_) {
        return;
    }
    stillTimer_.cancel();
    stillEndTimer_.cancel();
    if (slotOnAir()) {
        events_.postRollDueOnAir();
    }
}

void ClipClock::startAudio(Play& play, double start, double end) {
    audioTimer_.cancel();
    audioEndTimer_.cancel();
    outPointObserver_.reset();
    audioStart_ = start;
    audioEnd_ = end;
    if (audioSlot_ == nullptr) {
        return;
    }
    const auto tick = stepOf(play, [this](Play& current) { audioTick(current); });
    audioTimer_ = loop_.every(kClockPeriod, tick);
    // The end is a boundary on the player's time, which follows the sound heard.
    outPointObserver_ = audioSlot_->player()->addBoundaryTimeObserver({end}, tick);
}

void ClipClock::audioTick(Play& play) {
    if (audioSlot_ == nullptr) {
        return;
    }
    const double position = audioSlot_->player()->currentTime();
    now_.currentTime.set(std::min(position, audioEnd_));
    if (position < audioEnd_ - kEndEpsilon) {
        return;
    }
    audioTimer_.cancel();
    outPointObserver_.reset();
    if (!play.postRollFired) {
        play.postRollFired = true;
        loop_.post(stepOf(play, [this] {
            if (slotOnAir()) {
                events_.postRollDueOnAir();
            }
        }));
    }
}

}  // namespace kestio
