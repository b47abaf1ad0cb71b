// Transport operations on the slot on air: pause and resume, mute, seek and frame steps, rate,
// level, geometry and colour while on air, the test tone off, and the standby cue's completion.
//
// A clip's picture follows its sound on the engine clock, so the two are always moved together:
// pausing stops the slot's clip player (the picture shown stays), resuming starts it again from
// the picture's position at the engine clock's present, and a seek of a running clip restarts
// both at the new position. A paused clip's seek moves only the picture; the sound follows it
// on resume.

#include <algorithm>
#include <cmath>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "output/test_tone.h"
#include "platform/audio/audio_engine.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/console.h"
#include "playback/playback_controller.h"
#include "playback/playback_text.h"
#include "playback/vu_meter.h"

namespace kestio {

namespace {
// The time-pitch unit's range; a rate asked for outside it is brought to its nearer end.
constexpr double kMinRate = 0.1;
constexpr double kMaxRate = 8.0;
}  // namespace

bool PlaybackController::isShowingClipRunning() {
    return showingSlot().clipPlayer().startTime().get().has_value();
}

void PlaybackController::pause() {
    PlaybackSlot& slot = showingSlot();
    slot.clipPlayer().stop();
    if (isAudioOnlySlot_) {
        audioTimer_.cancel();
        audioEndTimer_.cancel();
    }
    colorRefreshAnchorTime_.reset();
}

void PlaybackController::resume() {
    postRollFired_ = false;
    colorRefreshAnchorTime_.reset();
    PlaybackSlot& slot = showingSlot();
    const auto item = slot.player()->current();
    if (item && !slot.isStill() && !isShowingClipRunning()) {
        double from = slot.player()->currentTime();
        if (!std::isfinite(from)) {
            from = currentTime.get();
        }
        slot.audio().startEngineIfNeeded();
        slot.clipPlayer().seekAndPlay(platform::ItemTime(from),
                                      view_->sharedEngine().clock()->timeAt(loop_.now()));
    }
    if (isAudioOnlySlot_ && !audioTimer_.active() && currentBankIndex.get()) {
        const auto data = slotDataOnAir();
        double end = data && data->outPoint && std::isfinite(*data->outPoint) ? *data->outPoint
                                                                              : duration.get();
        end = std::min(end, duration.get());
        if (currentTime.get() < end) {
            startAudioTimer(currentTime.get(), end);
        }
    }
}

void PlaybackController::toggleMute(const std::optional<AudioSettings>& settings) {
    isMuted.set(!isMuted.get());
    log(isMuted.get() ? "MUTE: ON" : "MUTE: OFF");
    const float gain = settings ? settings->masterLevel : 0.0f;
    const bool slotMuted = settings ? settings->isMuted : false;
    // The chain applies the silent-gain rule itself; the output mute is folded into its mute.
    view_->audioA().setLevel(gain, slotMuted || isMuted.get());
    view_->audioB().setLevel(gain, slotMuted || isMuted.get());
}

void PlaybackController::seek(double seconds) {
    if (!std::isfinite(seconds)) {
        platform::Console::log("seek: ignored a position that is not a number: " +
                               shortestDouble(seconds));
        return;
    }
    // Within the clip: an audio-only clip (which has no picture to clamp its time) too.
    double t = std::max(seconds, 0.0);
    if (duration.get() > 0.0) {
        t = std::min(t, duration.get());
    }
    currentTime.set(t);
    PlaybackSlot& slot = showingSlot();
    if (slot.player()->current() && !slot.isStill()) {
        if (isShowingClipRunning()) {
            slot.clipPlayer().seekAndPlay(platform::ItemTime(t),
                                          view_->sharedEngine().clock()->timeAt(loop_.now()));
        } else {
            slot.player()->seek(t, 0.0, 0.0);
        }
    }
    if (isAudioOnlySlot_ && audioTimer_.active() && currentBankIndex.get()) {
        const auto data = slotDataOnAir();
        double end = data && data->outPoint && std::isfinite(*data->outPoint) ? *data->outPoint
                                                                              : duration.get();
        end = std::min(end, duration.get());
        if (end <= t) {
            audioTimer_.cancel();
            audioEndTimer_.cancel();
        } else {
            postRollFired_ = false;
            startAudioTimer(t, end);
        }
    }
}

void PlaybackController::skip(int frames, double frameRate) {
    PlaybackSlot& slot = showingSlot();
    if (slot.isStill() || isAudioOnlySlot_) {
        return;
    }
    if (!std::isfinite(frameRate) || frameRate <= 0.0) {
        platform::Console::log("skip: ignored a frame rate that is not above 0: " +
                               shortestDouble(frameRate));
        return;
    }
    double from = slot.player()->currentTime();
    if (!std::isfinite(from)) {
        from = currentTime.get();
    }
    const double t = std::max(std::min(from + double(frames) / frameRate, duration.get()), 0.0);
    currentTime.set(t);
    if (!slot.player()->current()) {
        return;
    }
    // The picture follows the sound: a running clip moves both; a paused one only its picture,
    // which its sound follows on resume.
    if (isShowingClipRunning()) {
        slot.clipPlayer().seekAndPlay(platform::ItemTime(t),
                                      view_->sharedEngine().clock()->timeAt(loop_.now()));
    } else {
        slot.player()->seek(t, 0.0, 0.0);
    }
}

void PlaybackController::setPlaybackRate(double rate) {
    if (!currentBankIndex.get()) {
        return;
    }
    if (!std::isfinite(rate) || rate <= 0.0) {
        platform::Console::log("rate: ignored a rate that is not above 0: " + shortestDouble(rate));
        return;
    }
    // Picture and sound keep one rate, the one the time-pitch unit can stretch to.
    const double clamped = std::clamp(rate, kMinRate, kMaxRate);
    PlaybackSlot& slot = showingSlot();
    const auto now = view_->sharedEngine().clock()->timeAt(loop_.now());
    slot.clipPlayer().setRate(float(clamped), now);
    // A paused clip starts at the new rate.
    if (slot.player()->current() && !slot.isStill() && !isShowingClipRunning()) {
        double from = slot.player()->currentTime();
        if (!std::isfinite(from)) {
            from = currentTime.get();
        }
        slot.audio().startEngineIfNeeded();
        slot.clipPlayer().seekAndPlay(platform::ItemTime(from), now);
    }
}

void PlaybackController::applySlotVolume(bool muted, float gainDB) {
    showingSlot().audio().setLevel(gainDB, muted || isMuted.get());
}

void PlaybackController::updateGeometry(const GeometrySettings& geometry) {
    PlaybackSlot& slot = showingSlot();
    double width = view_->monitorSize().width;
    double height = view_->monitorSize().height;
    if (slot.isStill() && !slot.originalStillImage().isNull()) {
        width = slot.stillSize().width();
        height = slot.stillSize().height();
    } else if (const auto item = slot.player()->current()) {
        const QSize size = item->presentationSize();
        if (size.width() != 0 || size.height() != 0) {
            width = size.width();
            height = size.height();
        }
    }
    view_->applyGeometry(geometry, slot, width, height);
}

void PlaybackController::applyColorSettings(const ColorSettings& color) {
    // The player's frame filter and the still's contents filter follow the box, and the next
    // composed picture shows the new values, paused or not: no nudge of the position is needed
    // to redraw a paused picture, and no still is corrected here.
    showingSlot().colorSettingsBox().setValue(color);
}

void PlaybackController::stopTestTone() {
    toneGen_->stop(view_->sharedEngine());
    // What the meter measured of the tone is dropped, so the next tick does not show it again.
    meter_->reset();
    vuLevels.set(std::vector<float>(kMeterChannels, kSilenceDb));
    vuLevelL.set(kSilenceDb);
    vuLevelR.set(kSilenceDb);
    lastPublishedVUWasSilent_ = true;
}

void PlaybackController::handleStatusChange(const ItemPtr& item, PlaybackSlot& slot,
                                            const ItemPtr& loadedItem,
                                            const std::filesystem::path& url, double inPoint) {
    if (!item || item->statusValue() != platform::media::ItemStatus::ReadyToPlay ||
        slot.player()->current() != loadedItem || item != loadedItem) {
        return;
    }
    statusObserver.reset();
    // The cued slot replaces what was on air: the deferred steps of the clip before are void.
    const uint64_t generation = ++playGeneration_;
    letStillDecodeGo();
    const double target = std::isfinite(inPoint) ? std::max(inPoint, 0.0) : 0.0;
    slot.player()->seek(
        target, 0.0, 0.0,
        [weak = weakSelf(), this, generation, slotPtr = &slot, url, target](bool finished) {
            if (!finished || !weak.lock() || generation != playGeneration_) {
                return;
            }
            view_->cut(*slotPtr);
            slotPtr->player()->pause();
            currentURL_ = url;
            currentTime.set(target);
        });
}

}  // namespace kestio
