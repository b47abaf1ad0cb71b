#include "playback/transport.h"

#include <algorithm>
#include <cmath>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "output/still_display_size.h"
#include "output/test_tone.h"
#include "platform/audio/audio_engine.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/console.h"
#include "playback/clip_clock.h"
#include "playback/playback_text.h"
#include "playback/post_roll_policy.h"
#include "playback/program_meter.h"
#include "playback/slot_sound.h"

namespace kestio {

using output::PlaybackSlot;

namespace {
// The time-pitch unit's range; a rate asked for outside it is brought to its nearer end.
constexpr double kMinRate = 0.1;
constexpr double kMaxRate = 8.0;
}  // namespace

bool Transport::isShowingClipRunning() {
    return view_.showingSlot().clipPlayer().startTime().get().has_value();
}

void Transport::playOnAir(PlaybackSlot& slot, double from) {
    const auto now = view_.sharedEngine().clock()->timeAt(loop_.now());
    slot.audio().startEngineIfNeeded();
    if (slot.isLooping()) {
        // A loop's clip (its range and passes) was given to the clip player by the slot itself
        // when the loop started.
        slot.clipPlayer().seekAndPlay(platform::ItemTime(from), now);
        return;
    }
    // The clip the slot holds now, never one its clip player remembers from an earlier start
    // (a cue stood by in this slot replaced that one without starting it).
    slot.clipPlayer().play(slot.currentClip(), platform::ItemTime(from), now);
}

double Transport::audioEnd() const {
    const auto& onAir = view_.foreground();
    const auto data =
        onAir ? parts_.policy.slotData(onAir->ref.bank, onAir->ref.slot) : std::nullopt;
    const double end = data && data->outPoint && std::isfinite(*data->outPoint)
                           ? *data->outPoint
                           : now_.duration.get();
    return std::min(end, now_.duration.get());
}

void Transport::pause() {
    PlaybackSlot& slot = view_.showingSlot();
    slot.clipPlayer().stop();
    if (const auto play = inForce(play_); play && play->audioOnly) {
        parts_.clock.stopAudio();
    }
}

void Transport::resume() {
    const auto play = inForce(play_);
    if (play) {
        play->postRollFired = false;
    }
    PlaybackSlot& slot = view_.showingSlot();
    const auto item = slot.player()->current();
    if (item && !slot.isStill() && !isShowingClipRunning()) {
        double from = slot.player()->currentTime();
        if (!std::isfinite(from)) {
            from = now_.currentTime.get();
        }
        playOnAir(slot, from);
    }
    if (play && play->audioOnly && !parts_.clock.isAudioRunning() && view_.foreground()) {
        const double end = audioEnd();
        if (now_.currentTime.get() < end) {
            parts_.clock.runAudio(now_.currentTime.get(), end);
        }
    }
}

void Transport::toggleMute(const std::optional<AudioSettings>& settings) {
    now_.isMuted.set(!now_.isMuted.get());
    events_.log(now_.isMuted.get() ? "MUTE: ON" : "MUTE: OFF");
    const float gain = settings ? settings->masterLevel : 0.0f;
    const bool slotMuted = settings ? settings->isMuted : false;
    // The chain applies the silent-gain rule itself; the output mute is folded into its mute.
    view_.showingSlot().audio().setLevel(gain, slotMuted || now_.isMuted.get());
    // The hidden slot is heard only as a cue on its way to air, at its own level; a warming
    // play, a slot fading out or an empty one stays silent.
    if (const auto cued = view_.backgroundLevel()) {
        view_.hiddenSlot().audio().setLevel(cued->masterLevel, cued->isMuted || now_.isMuted.get());
    } else {
        view_.hiddenSlot().audio().setLevel(0.0f, true);
    }
}

void Transport::seek(double seconds) {
    if (!std::isfinite(seconds)) {
        platform::Console::log("seek: ignored a position that is not a number: " +
                               shortestDouble(seconds));
        return;
    }
    // Within the clip: an audio-only clip (which has no picture to clamp its time) too.
    double t = std::max(seconds, 0.0);
    if (now_.duration.get() > 0.0) {
        t = std::min(t, now_.duration.get());
    }
    now_.currentTime.set(t);
    PlaybackSlot& slot = view_.showingSlot();
    if (slot.player()->current() && !slot.isStill()) {
        if (isShowingClipRunning()) {
            playOnAir(slot, t);
        } else {
            slot.player()->seek(t, 0.0, 0.0);
        }
    }
    if (const auto play = inForce(play_);
        play && play->audioOnly && parts_.clock.isAudioRunning() && view_.foreground()) {
        const double end = audioEnd();
        if (end <= t) {
            parts_.clock.stopAudio();
        } else {
            play->postRollFired = false;
            parts_.clock.runAudio(t, end);
        }
    }
}

void Transport::skip(int frames, double frameRate) {
    PlaybackSlot& slot = view_.showingSlot();
    if (const auto play = inForce(play_); slot.isStill() || (play && play->audioOnly)) {
        return;
    }
    if (!std::isfinite(frameRate) || frameRate <= 0.0) {
        platform::Console::log("skip: ignored a frame rate that is not above 0: " +
                               shortestDouble(frameRate));
        return;
    }
    double from = slot.player()->currentTime();
    if (!std::isfinite(from)) {
        from = now_.currentTime.get();
    }
    const double t =
        std::max(std::min(from + double(frames) / frameRate, now_.duration.get()), 0.0);
    now_.currentTime.set(t);
    if (!slot.player()->current()) {
        return;
    }
    // The picture follows the sound: a running clip moves both; a paused one only its picture,
    // which its sound follows on resume.
    if (isShowingClipRunning()) {
        playOnAir(slot, t);
    } else {
        slot.player()->seek(t, 0.0, 0.0);
    }
}

void Transport::setPlaybackRate(double rate) {
    if (!view_.foreground()) {
        return;
    }
    if (!std::isfinite(rate) || rate <= 0.0) {
        platform::Console::log("rate: ignored a rate that is not above 0: " + shortestDouble(rate));
        return;
    }
    // Picture and sound keep one rate, the one the time-pitch unit can stretch to.
    const double clamped = std::clamp(rate, kMinRate, kMaxRate);
    PlaybackSlot& slot = view_.showingSlot();
    const auto now = view_.sharedEngine().clock()->timeAt(loop_.now());
    slot.clipPlayer().setRate(float(clamped), now);
    // A paused clip starts at the new rate.
    if (slot.player()->current() && !slot.isStill() && !isShowingClipRunning()) {
        double from = slot.player()->currentTime();
        if (!std::isfinite(from)) {
            from = now_.currentTime.get();
        }
        playOnAir(slot, from);
    }
}

void Transport::applySlotVolume(bool muted, float gainDB) {
    view_.showingSlot().audio().setLevel(gainDB, muted || now_.isMuted.get());
}

void Transport::updateGeometry(const GeometrySettings& geometry) {
    PlaybackSlot& slot = view_.showingSlot();
    double width = view_.monitorSize().width;
    double height = view_.monitorSize().height;
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
    view_.applyGeometry(geometry, slot, width, height);
    slot.refitStill(output::stillDisplaySize(geometry, view_.monitorSize()));
}

void Transport::applyColorSettings(const ColorSettings& color) {
    // The player's frame filter and the still's contents filter follow the box, and the next
    // composed picture shows the new values, paused or not: no nudge of the position is needed
    // to redraw a paused picture, and no still is corrected here.
    view_.showingSlot().colorSettingsBox().setValue(color);
}

void Transport::stopTestTone() {
    parts_.toneGen.stop(view_.sharedEngine());
    // What the meter measured of the tone is dropped, so the next tick does not show it again.
    parts_.meter.silence();
}

std::optional<Transport::StandbyCue> Transport::standby(const SlotData& data,
                                                        platform::SizeF monitorSize) {
    const auto bound = inForce(play_);
    if (!bound) {
        return std::nullopt;
    }
    const Play& play = *bound;
    view_.setMonitorSize(monitorSize);
    // The slot pair records the cue; the standby cue goes on air paused, by a take.
    const double inPoint = data.inPoint.value_or(0.0);
    const auto loaded =
        view_.loadCue(output::hiddenPlayingCue(play.ref, play.url, data.audioSettings, inPoint),
                      data.outPoint, data.colorSettings);
    now_.selectedClipName.set(data.name);
    // The cue's own position and length, not those of the clip it replaces.
    const double clipDuration =
        data.clipInfo && std::isfinite(data.clipInfo->duration) ? data.clipInfo->duration : 0.0;
    const std::optional<double> outPoint =
        data.outPoint && std::isfinite(*data.outPoint) ? data.outPoint : std::nullopt;
    now_.currentTime.set(std::isfinite(inPoint) ? std::max(inPoint, 0.0) : 0.0);
    now_.duration.set(outPoint.value_or(clipDuration));
    standbyWatch_ = {outPoint, data.clipInfo ? data.clipInfo->fps : 30.0};
    if (!loaded.item) {
        return std::nullopt;
    }
    // Taken by Return, ▶ or a Play note, the cue goes on air with the slot's own sound.
    parts_.sound.applySound(loaded.slot, data);
    return StandbyCue{loaded.slot, loaded.item};
}

void Transport::watchStandby(const StandbyCue& cue, std::function<void()> changed) {
    std::weak_ptr<platform::media::PlayerItem> weakItem = cue.item;
    standbyObserver_ = cue.item->status().subscribe(
        stepOf(play_, [this, slot = &cue.slot, weakItem,
                       changed = std::move(changed)](const platform::media::ItemStatus&) {
            // Once the cue may be taken, its status is watched no more.
            if (const auto item = weakItem.lock(); isStandbyReady(item, *slot, item)) {
                standbyObserver_.reset();
            }
            changed();
        }));
}

void Transport::stop() {
    standbyObserver_.reset();
    standbyWatch_ = {};
    play_.reset();
}

bool Transport::isStandbyReady(const std::shared_ptr<platform::media::PlayerItem>& item,
                               PlaybackSlot& slot,
                               const std::shared_ptr<platform::media::PlayerItem>& loadedItem) {
    return item && item->statusValue() == platform::media::ItemStatus::ReadyToPlay &&
           slot.player()->current() == loadedItem && item == loadedItem;
}

void Transport::takeStandby(PlaybackSlot& slot, double inPoint) {
    const double target = std::isfinite(inPoint) ? std::max(inPoint, 0.0) : 0.0;
    slot.player()->seek(
        target, 0.0, 0.0,
        stepOf(play_, [this, slotPtr = &slot, target](Play& current, bool finished) {
            if (!finished) {
                return;
            }
            if (slotPtr == &view_.hiddenSlot()) {
                view_.take({});
            }
            slotPtr->player()->pause();
            now_.currentTime.set(target);
            // The cue on air is watched as any clip on air: a resume runs its
            // clock, its out point and its end.
            current.postRollFired = false;
            if (const auto onAir = slotPtr->player()->current()) {
                parts_.clock.start(
                    current, ClipClock::VideoWatch{*slotPtr, onAir, standbyWatch_.outPoint, target,
                                                   standbyWatch_.fps});
            }
        }));
}

}  // namespace kestio
