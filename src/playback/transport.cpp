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
#include "playback/playback_controller.h"
#include "playback/playback_text.h"
#include "playback/program_meter.h"
#include "playback/transport.h"

namespace kestio {

namespace {
// The time-pitch unit's range; a rate asked for outside it is brought to its nearer end.
constexpr double kMinRate = 0.1;
constexpr double kMaxRate = 8.0;
}  // namespace

bool Transport::isShowingClipRunning() {
    return pc_.showingSlot().clipPlayer().startTime().get().has_value();
}

void Transport::pause() {
    PlaybackSlot& slot = pc_.showingSlot();
    slot.clipPlayer().stop();
    if (pc_.isAudioOnlySlot_) {
        pc_.clock_->stopAudio();
    }
}

void Transport::resume() {
    pc_.postRollFired_ = false;
    PlaybackSlot& slot = pc_.showingSlot();
    const auto item = slot.player()->current();
    if (item && !slot.isStill() && !isShowingClipRunning()) {
        double from = slot.player()->currentTime();
        if (!std::isfinite(from)) {
            from = pc_.currentTime.get();
        }
        slot.audio().startEngineIfNeeded();
        slot.clipPlayer().seekAndPlay(platform::ItemTime(from),
                                      pc_.view_->sharedEngine().clock()->timeAt(pc_.loop_.now()));
    }
    if (pc_.isAudioOnlySlot_ && !pc_.clock_->isAudioRunning() && pc_.currentBankIndex.get()) {
        const auto data = pc_.slotDataOnAir();
        double end = data && data->outPoint && std::isfinite(*data->outPoint) ? *data->outPoint
                                                                              : pc_.duration.get();
        end = std::min(end, pc_.duration.get());
        if (pc_.currentTime.get() < end) {
            pc_.clock_->startAudio(pc_.currentTime.get(), end);
        }
    }
}

void Transport::toggleMute(const std::optional<AudioSettings>& settings) {
    pc_.isMuted.set(!pc_.isMuted.get());
    pc_.log(pc_.isMuted.get() ? "MUTE: ON" : "MUTE: OFF");
    const float gain = settings ? settings->masterLevel : 0.0f;
    const bool slotMuted = settings ? settings->isMuted : false;
    // The chain applies the silent-gain rule itself; the output mute is folded into its mute.
    pc_.showingSlot().audio().setLevel(gain, slotMuted || pc_.isMuted.get());
    // The hidden slot is heard only as a cue on its way to air, at its own level; a warming
    // play, a slot fading out or an empty one stays silent.
    if (const auto cued = pc_.view_->backgroundLevel()) {
        pc_.hiddenSlot().audio().setLevel(cued->masterLevel, cued->isMuted || pc_.isMuted.get());
    } else {
        pc_.hiddenSlot().audio().setLevel(0.0f, true);
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
    if (pc_.duration.get() > 0.0) {
        t = std::min(t, pc_.duration.get());
    }
    pc_.currentTime.set(t);
    PlaybackSlot& slot = pc_.showingSlot();
    if (slot.player()->current() && !slot.isStill()) {
        if (isShowingClipRunning()) {
            slot.clipPlayer().seekAndPlay(
                platform::ItemTime(t), pc_.view_->sharedEngine().clock()->timeAt(pc_.loop_.now()));
        } else {
            slot.player()->seek(t, 0.0, 0.0);
        }
    }
    if (pc_.isAudioOnlySlot_ && pc_.clock_->isAudioRunning() && pc_.currentBankIndex.get()) {
        const auto data = pc_.slotDataOnAir();
        double end = data && data->outPoint && std::isfinite(*data->outPoint) ? *data->outPoint
                                                                              : pc_.duration.get();
        end = std::min(end, pc_.duration.get());
        if (end <= t) {
            pc_.clock_->stopAudio();
        } else {
            pc_.postRollFired_ = false;
            pc_.clock_->startAudio(t, end);
        }
    }
}

void Transport::skip(int frames, double frameRate) {
    PlaybackSlot& slot = pc_.showingSlot();
    if (slot.isStill() || pc_.isAudioOnlySlot_) {
        return;
    }
    if (!std::isfinite(frameRate) || frameRate <= 0.0) {
        platform::Console::log("skip: ignored a frame rate that is not above 0: " +
                               shortestDouble(frameRate));
        return;
    }
    double from = slot.player()->currentTime();
    if (!std::isfinite(from)) {
        from = pc_.currentTime.get();
    }
    const double t = std::max(std::min(from + double(frames) / frameRate, pc_.duration.get()), 0.0);
    pc_.currentTime.set(t);
    if (!slot.player()->current()) {
        return;
    }
    // The picture follows the sound: a running clip moves both; a paused one only its picture,
    // which its sound follows on resume.
    if (isShowingClipRunning()) {
        slot.clipPlayer().seekAndPlay(platform::ItemTime(t),
                                      pc_.view_->sharedEngine().clock()->timeAt(pc_.loop_.now()));
    } else {
        slot.player()->seek(t, 0.0, 0.0);
    }
}

void Transport::setPlaybackRate(double rate) {
    if (!pc_.currentBankIndex.get()) {
        return;
    }
    if (!std::isfinite(rate) || rate <= 0.0) {
        platform::Console::log("rate: ignored a rate that is not above 0: " + shortestDouble(rate));
        return;
    }
    // Picture and sound keep one rate, the one the time-pitch unit can stretch to.
    const double clamped = std::clamp(rate, kMinRate, kMaxRate);
    PlaybackSlot& slot = pc_.showingSlot();
    const auto now = pc_.view_->sharedEngine().clock()->timeAt(pc_.loop_.now());
    slot.clipPlayer().setRate(float(clamped), now);
    // A paused clip starts at the new rate.
    if (slot.player()->current() && !slot.isStill() && !isShowingClipRunning()) {
        double from = slot.player()->currentTime();
        if (!std::isfinite(from)) {
            from = pc_.currentTime.get();
        }
        slot.audio().startEngineIfNeeded();
        slot.clipPlayer().seekAndPlay(platform::ItemTime(from), now);
    }
}

void Transport::applySlotVolume(bool muted, float gainDB) {
    pc_.showingSlot().audio().setLevel(gainDB, muted || pc_.isMuted.get());
}

void Transport::updateGeometry(const GeometrySettings& geometry) {
    PlaybackSlot& slot = pc_.showingSlot();
    double width = pc_.view_->monitorSize().width;
    double height = pc_.view_->monitorSize().height;
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
    pc_.view_->applyGeometry(geometry, slot, width, height);
    slot.refitStill(output::stillDisplaySize(geometry, pc_.view_->monitorSize()));
}

void Transport::applyColorSettings(const ColorSettings& color) {
    // The player's frame filter and the still's contents filter follow the box, and the next
    // composed picture shows the new values, paused or not: no nudge of the position is needed
    // to redraw a paused picture, and no still is corrected here.
    pc_.showingSlot().colorSettingsBox().setValue(color);
}

void Transport::stopTestTone() {
    pc_.toneGen_->stop(pc_.view_->sharedEngine());
    // What the meter measured of the tone is dropped, so the next tick does not show it again.
    pc_.meter_->silence();
}

void Transport::standby(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                        platform::SizeF monitorSize) {
    pc_.view_->setMonitorSize(monitorSize);
    pc_.removeObservers();
    // The slot pair records the cue; the standby cue goes on air paused, by a take.
    output::Cue cue;
    cue.ref = SlotRef{bank, slot};
    cue.url = url;
    cue.state = output::CueState::hiddenPlaying;
    cue.audio = data.audioSettings;
    cue.inPoint = data.inPoint.value_or(0.0);
    const double inPoint = cue.inPoint;
    const auto loaded = pc_.view_->loadCue(std::move(cue), data.outPoint, data.colorSettings);
    pc_.currentBankIndex = bank;
    pc_.currentSlotIndex = slot;
    pc_.selectedClipName = data.name;
    if (!loaded.item) {
        return;
    }
    PlaybackSlot* target = &loaded.slot;
    std::weak_ptr<platform::media::PlayerItem> weakItem = loaded.item;
    pc_.standbyObserver_ = loaded.item->status().subscribe(
        [this, target, weakItem, url, inPoint](const platform::media::ItemStatus&) {
            if (auto item = weakItem.lock()) {
                handleStatusChange(item, *target, item, url, inPoint);
            }
        });
}

void Transport::handleStatusChange(const PlaybackController::ItemPtr& item, PlaybackSlot& slot,
                                   const PlaybackController::ItemPtr& loadedItem,
                                   const std::filesystem::path& url, double inPoint) {
    if (!item || item->statusValue() != platform::media::ItemStatus::ReadyToPlay ||
        slot.player()->current() != loadedItem || item != loadedItem) {
        return;
    }
    pc_.standbyObserver_.reset();
    // The cued slot replaces what was on air: the deferred steps of the clip before are void.
    const uint64_t generation = ++pc_.playGeneration_;
    pc_.letStillDecodeGo();
    const double target = std::isfinite(inPoint) ? std::max(inPoint, 0.0) : 0.0;
    slot.player()->seek(
        target, 0.0, 0.0,
        [weak = pc_.weakSelf(), this, generation, slotPtr = &slot, url, target](bool finished) {
            if (!finished || !weak.lock() || generation != pc_.playGeneration_) {
                return;
            }
            if (slotPtr == &pc_.hiddenSlot()) {
                pc_.view_->take({});
            }
            slotPtr->player()->pause();
            pc_.currentURL_ = url;
            pc_.currentTime.set(target);
        });
}

}  // namespace kestio
