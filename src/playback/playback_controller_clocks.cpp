// Clip clocks and end watchers: the position published while a clip plays, and the decision
// that its out point or its end has come. Video and audio-only clips are watched on their
// player's time, which follows the engine clock of the sound heard; the out point is a
// boundary observer on that time, so the post-roll comes on the frame, whatever the run
// loop's timers do. A still's clock is the host clock.

#include <cmath>
#include <utility>

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/media/queue_player.h"
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

void PlaybackController::installTimeObservers(PlaybackSlot& slot, std::optional<double> outPoint,
                                              double inPoint, double fps) {
    timeObserver_.reset();
    boundaryObserver_.reset();
    outPointObserver_.reset();
    const uint64_t generation = playGeneration_;
    auto& player = *slot.player();
    if (outPoint && inPoint < *outPoint) {
        // A frame rate that is unknown (0) or not a number counts as 30, not as 1 frame a second.
        const double rate = std::isfinite(fps) && fps > 0.0 ? std::max(fps, 1.0) : 30.0;
        const double target = std::max(*outPoint - 1.0 / rate, inPoint);
        outPointObserver_ = player.addBoundaryTimeObserver(
            {target}, [this, generation] { outPointReached(generation); });
    }
    timeObserver_ = player.addPeriodicTimeObserver(
        kClockPeriod, [this, generation](double time) { handlePeriodicTime(generation, time); });
    watchedPlayer_ = slot.player();
}

void PlaybackController::outPointReached(uint64_t generation) {
    if (generation != playGeneration_ || !watchedPlayer_ || postRollFired_ ||
        watchedPlayer_->rateValue() == 0.0f) {
        return;
    }
    postRollFired_ = true;
    currentTime.set(watchedPlayer_->currentTime());
    loop_.post([weak = weakSelf(), this, generation] {
        if (weak.lock()) {
            firePostRollForCurrentSlot(generation);
        }
    });
}

void PlaybackController::handlePeriodicTime(uint64_t generation, double time) {
    if (generation != playGeneration_ || !watchedPlayer_) {
        return;
    }
    const auto item = watchedPlayer_->current();
    if (!item || isSeeking) {
        return;
    }
    currentTime.set(time);
    double itemDuration = item->duration();
    if (std::isnan(itemDuration)) {
        itemDuration = 1.0;
    }
    if (std::fabs(itemDuration - duration.get()) > kDurationEpsilon) {
        duration.set(itemDuration);
    }
    if (!currentBankIndex.get() || !currentSlotIndex.get() || postRollFired_) {
        return;
    }
    const int bank = *currentBankIndex.get();
    const int slot = *currentSlotIndex.get();
    // Only a running clip decides: a paused or frozen one waits.
    if (watchedPlayer_->rateValue() != 0.0f &&
        postRoll_.isDueBeforeTheEnd(SlotRef{bank, slot}, time, itemDuration)) {
        postRollFired_ = true;
        loop_.post([weak = weakSelf(), this, generation, bank, slot] {
            if (weak.lock()) {
                firePostRoll(generation, bank, slot);
            }
        });
    }
}

void PlaybackController::firePostRollForCurrentSlot(uint64_t generation) {
    if (generation != playGeneration_ || !currentBankIndex.get() || !currentSlotIndex.get()) {
        return;
    }
    handlePostRoll(postRollModeOnAir());
}

void PlaybackController::firePostRoll(uint64_t generation, int bank, int slot) {
    // Only for the clip it was decided for, and only while that slot is still on air.
    if (generation != playGeneration_ || currentBankIndex.get() != bank ||
        currentSlotIndex.get() != slot) {
        return;
    }
    handlePostRoll(postRoll_.atEnd(SlotRef{bank, slot}));
}

void PlaybackController::observeItemEnd(const ItemPtr& item) {
    const uint64_t generation = playGeneration_;
    endObserver_ = item->onDidPlayToEnd([this, generation] { itemDidPlayToEnd(generation); });
}

void PlaybackController::itemDidPlayToEnd(uint64_t generation) {
    if (generation != playGeneration_ || !currentBankIndex.get() || !currentSlotIndex.get() ||
        postRollFired_) {
        return;
    }
    postRollFired_ = true;
    handlePostRoll(postRollModeOnAir());
}

void PlaybackController::startStillTimer(double seconds) {
    stillTimer_.cancel();
    stillEndTimer_.cancel();
    const uint64_t generation = playGeneration_;
    stillStartedAt_ = loop_.now();
    stillDuration_ = std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
    stillTimer_ = loop_.every(kClockPeriod, [weak = weakSelf(), this, generation] {
        if (weak.lock()) {
            stillTimerTick(generation);
        }
    });
    // The end comes exactly at the duration on the host clock, not at the next tick after it.
    stillEndTimer_ = loop_.after(stillDuration_, [weak = weakSelf(), this, generation] {
        if (weak.lock()) {
            stillTimerTick(generation);
        }
    });
}

void PlaybackController::stillTimerTick(uint64_t generation) {
    if (generation != playGeneration_) {
        return;
    }
    const double elapsed = loop_.now() - stillStartedAt_;
    currentTime.set(std::min(elapsed, stillDuration_));
    if (elapsed < stillDuration_) {
        return;
    }
    stillTimer_.cancel();
    stillEndTimer_.cancel();
    if (currentBankIndex.get() && currentSlotIndex.get()) {
        handlePostRoll(postRollModeOnAir());
    }
}

void PlaybackController::startAudioTimer(double start, double end) {
    audioTimer_.cancel();
    audioEndTimer_.cancel();
    outPointObserver_.reset();
    audioStart_ = start;
    audioEnd_ = end;
    if (audioOnlySlot_ == nullptr) {
        return;
    }
    const uint64_t generation = playGeneration_;
    audioTimer_ = loop_.every(kClockPeriod, [weak = weakSelf(), this, generation] {
        if (weak.lock()) {
            audioTimerTick(generation);
        }
    });
    // The end is a boundary on the player's time, which follows the sound heard.
    outPointObserver_ = audioOnlySlot_->player()->addBoundaryTimeObserver(
        {end}, [this, generation] { audioTimerTick(generation); });
}

void PlaybackController::audioTimerTick(uint64_t generation) {
    if (generation != playGeneration_ || audioOnlySlot_ == nullptr) {
        return;
    }
    const double position = audioOnlySlot_->player()->currentTime();
    currentTime.set(std::min(position, audioEnd_));
    if (position < audioEnd_ - kEndEpsilon) {
        return;
    }
    audioTimer_.cancel();
    outPointObserver_.reset();
    if (!postRollFired_) {
        postRollFired_ = true;
        loop_.post([weak = weakSelf(), this, generation] {
            if (weak.lock()) {
                firePostRollForCurrentSlot(generation);
            }
        });
    }
}

PostRollMode PlaybackController::postRollModeOnAir() const {
    if (!currentBankIndex.get() || !currentSlotIndex.get()) {
        return PostRollMode::freeze;
    }
    return postRoll_.atEnd(SlotRef{*currentBankIndex.get(), *currentSlotIndex.get()});
}

}  // namespace kestio
