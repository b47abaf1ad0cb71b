#include <cmath>
#include <utility>

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/media/queue_player.h"
#include "playback/clip_clock.h"
#include "playback/playback_controller.h"

namespace kestio {

namespace {
// The period of the published position.
constexpr double kClockPeriod = 0.05;
// Durations closer than this are the same for publishing.
constexpr double kDurationEpsilon = 0.001;
// The audio-only clock counts a position this close to its end as the end.
constexpr double kEndEpsilon = 1e-6;
}  // namespace

ClipClock::ClipClock(PlaybackController& controller, platform::RunLoop& loop)
    : pc_(controller), loop_(loop) {}

ClipClock::~ClipClock() {
    alive_.reset();
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
    watchedPlayer_.reset();
}

void ClipClock::resumeStill() {
    const platform::HostTime startedAt = stillStartedAt_;
    const double length = stillDuration_;
    startStill(std::max(length - (loop_.now() - startedAt), 0.0));
    stillStartedAt_ = startedAt;
    stillDuration_ = length;
}

void ClipClock::watchAudio(output::PlaybackSlot& slot, double start, double end) {
    audioSlot_ = &slot;
    startAudio(start, end);
}

void ClipClock::stopAudio() {
    audioTimer_.cancel();
    audioEndTimer_.cancel();
}

void ClipClock::watchVideo(output::PlaybackSlot& slot, std::optional<double> outPoint,
                           double inPoint, double fps) {
    timeObserver_.reset();
    outPointObserver_.reset();
    const uint64_t generation = pc_.playGeneration_;
    auto& player = *slot.player();
    if (outPoint && inPoint < *outPoint) {
        // A frame rate that is unknown (0) or not a number counts as 30, not as 1 frame a second.
        const double rate = std::isfinite(fps) && fps > 0.0 ? std::max(fps, 1.0) : 30.0;
        const double target = std::max(*outPoint - 1.0 / rate, inPoint);
        outPointObserver_ = player.addBoundaryTimeObserver(
            {target}, [this, generation] { outPointReached(generation); });
    }
    timeObserver_ = player.addPeriodicTimeObserver(
        kClockPeriod, [this, generation](double time) { periodicTime(generation, time); });
    watchedPlayer_ = slot.player();
}

void ClipClock::outPointReached(uint64_t generation) {
    if (generation != pc_.playGeneration_ || !watchedPlayer_ || pc_.postRollFired_ ||
        watchedPlayer_->rateValue() == 0.0f) {
        return;
    }
    pc_.postRollFired_ = true;
    pc_.currentTime.set(watchedPlayer_->currentTime());
    loop_.post([weak = weakSelf(), this, generation] {
        if (weak.lock()) {
            firePostRollForCurrentSlot(generation);
        }
    });
}

void ClipClock::periodicTime(uint64_t generation, double time) {
    if (generation != pc_.playGeneration_ || !watchedPlayer_) {
        return;
    }
    const auto item = watchedPlayer_->current();
    if (!item || pc_.isSeeking) {
        return;
    }
    pc_.currentTime.set(time);
    double itemDuration = item->duration();
    if (std::isnan(itemDuration)) {
        itemDuration = 1.0;
    }
    if (std::fabs(itemDuration - pc_.duration.get()) > kDurationEpsilon) {
        pc_.duration.set(itemDuration);
    }
    if (!pc_.currentBankIndex.get() || !pc_.currentSlotIndex.get() || pc_.postRollFired_) {
        return;
    }
    const int bank = *pc_.currentBankIndex.get();
    const int slot = *pc_.currentSlotIndex.get();
    // Only a running clip decides: a paused or frozen one waits.
    if (watchedPlayer_->rateValue() != 0.0f &&
        pc_.postRoll_.isDueBeforeTheEnd(SlotRef{bank, slot}, time, itemDuration)) {
        pc_.postRollFired_ = true;
        loop_.post([weak = weakSelf(), this, generation, bank, slot] {
            if (weak.lock()) {
                firePostRoll(generation, bank, slot);
            }
        });
    }
}

void ClipClock::firePostRollForCurrentSlot(uint64_t generation) {
    if (generation != pc_.playGeneration_ || !pc_.currentBankIndex.get() ||
        !pc_.currentSlotIndex.get()) {
        return;
    }
    pc_.handlePostRoll(pc_.postRollModeOnAir());
}

void ClipClock::firePostRoll(uint64_t generation, int bank, int slot) {
    // Only for the clip it was decided for, and only while that slot is still on air.
    if (generation != pc_.playGeneration_ || pc_.currentBankIndex.get() != bank ||
        pc_.currentSlotIndex.get() != slot) {
        return;
    }
    pc_.handlePostRoll(pc_.postRoll_.atEnd(SlotRef{bank, slot}));
}

void ClipClock::watchEnd(const std::shared_ptr<platform::media::PlayerItem>& item) {
    const uint64_t generation = pc_.playGeneration_;
    endObserver_ = item->onDidPlayToEnd([this, generation] { itemDidPlayToEnd(generation); });
}

void ClipClock::itemDidPlayToEnd(uint64_t generation) {
    if (generation != pc_.playGeneration_ || !pc_.currentBankIndex.get() ||
        !pc_.currentSlotIndex.get() || pc_.postRollFired_) {
        return;
    }
    pc_.postRollFired_ = true;
    pc_.handlePostRoll(pc_.postRollModeOnAir());
}

void ClipClock::startStill(double seconds) {
    stillTimer_.cancel();
    stillEndTimer_.cancel();
    const uint64_t generation = pc_.playGeneration_;
    stillStartedAt_ = loop_.now();
    stillDuration_ = std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
    stillTimer_ = loop_.every(kClockPeriod, [weak = weakSelf(), this, generation] {
        if (weak.lock()) {
            stillTick(generation);
        }
    });
    // The end comes exactly at the duration on the host clock, not at the next tick after it.
    stillEndTimer_ = loop_.after(stillDuration_, [weak = weakSelf(), this, generation] {
        if (weak.lock()) {
            stillTick(generation);
        }
    });
}

void ClipClock::stillTick(uint64_t generation) {
    if (generation != pc_.playGeneration_) {
        return;
    }
    const double elapsed = loop_.now() - stillStartedAt_;
    pc_.currentTime.set(std::min(elapsed, stillDuration_));
    if (elapsed < stillDuration_) {
        return;
    }
    stillTimer_.cancel();
    stillEndTimer_.cancel();
    if (pc_.currentBankIndex.get() && pc_.currentSlotIndex.get()) {
        pc_.handlePostRoll(pc_.postRollModeOnAir());
    }
}

void ClipClock::startAudio(double start, double end) {
    audioTimer_.cancel();
    audioEndTimer_.cancel();
    outPointObserver_.reset();
    audioStart_ = start;
    audioEnd_ = end;
    if (audioSlot_ == nullptr) {
        return;
    }
    const uint64_t generation = pc_.playGeneration_;
    audioTimer_ = loop_.every(kClockPeriod, [weak = weakSelf(), this, generation] {
        if (weak.lock()) {
            audioTick(generation);
        }
    });
    // The end is a boundary on the player's time, which follows the sound heard.
    outPointObserver_ = audioSlot_->player()->addBoundaryTimeObserver(
        {end}, [this, generation] { audioTick(generation); });
}

void ClipClock::audioTick(uint64_t generation) {
    if (generation != pc_.playGeneration_ || audioSlot_ == nullptr) {
        return;
    }
    const double position = audioSlot_->player()->currentTime();
    pc_.currentTime.set(std::min(position, audioEnd_));
    if (position < audioEnd_ - kEndEpsilon) {
        return;
    }
    audioTimer_.cancel();
    outPointObserver_.reset();
    if (!pc_.postRollFired_) {
        pc_.postRollFired_ = true;
        loop_.post([weak = weakSelf(), this, generation] {
            if (weak.lock()) {
                firePostRollForCurrentSlot(generation);
            }
        });
    }
}

}  // namespace kestio
