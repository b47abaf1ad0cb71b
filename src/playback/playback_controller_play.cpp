// Playing a slot: the play entry, the still path, the audio-only path and the volume rule.

#include <QImage>
#include <cmath>
#include <utility>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "output/still_display_size.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/still_decoder.h"
#include "platform/runloop/console.h"
#include "playback/clip_clock.h"
#include "playback/clip_engine_format.h"
#include "playback/loop_runner.h"
#include "playback/playback_controller.h"
#include "playback/playback_text.h"
#include "playback/video_start.h"
#include "playback/warm_up.h"

namespace kestio {

namespace {
std::optional<double> finiteOrNone(const std::optional<double>& value) {
    if (value && std::isfinite(*value)) {
        return value;
    }
    return std::nullopt;
}
}  // namespace

void PlaybackController::play(int bank, int slot, const std::filesystem::path& url,
                              const SlotData& data, platform::SizeF monitorSize) {
    view_->setMonitorSize(monitorSize);
    clock_->stopAudio();
    isAudioOnlySlot_ = false;

    if (isWarming()) {
        if (data.mediaType == MediaType::video) {
            warmUp_->warm(bank, slot, url, data);
        } else {
            warmUp_->signalReadyLater();
        }
        return;
    }

    // The hidden slot is taken as it is only when it holds this cue, loaded ahead and paused at
    // its in point (a preload); anything else there is cleared. A loop is never cued ahead: it
    // starts at its in point, on its own path.
    const bool matched = data.postRollMode != PostRollMode::loop &&
                         view_->holdsCue(SlotRef{bank, slot}, url) &&
                         view_->background()->state != output::CueState::hiddenPlaying;
    // Every deferred step of the clip before this one is void from here on, and a still being
    // decoded for it is let go.
    ++playGeneration_;
    letStillDecodeGo();
    view_->prepareForPlay(matched);
    removeObservers();
    log("再生開始: " + bankSlotText(bank, slot) + " " + data.name +
        " transition=" + std::string(rawValue(data.transitionMode)) +
        " geo=" + std::string(rawValue(data.geometry.mode)) + "/scale" +
        wholePercent(data.geometry.scaleX) + "%");
    if (!matched) {
        // This play's own cue: started in the hidden slot and switched to air once ready.
        output::Cue cue;
        cue.ref = SlotRef{bank, slot};
        cue.url = url;
        cue.state = output::CueState::hiddenPlaying;
        cue.audio = data.audioSettings;
        view_->cue(std::move(cue));
    }
    // The clip on air keeps its picture and its sound until the switch, where the surface ends
    // both together (a cut clears the outgoing slot, a dissolve fades its sound out): its
    // picture follows its sound, so silencing it here would freeze the picture too.

    const bool loops = data.postRollMode == PostRollMode::loop;
    switch (data.mediaType) {
        case MediaType::video:
            if (loops) {
                loops_->start(bank, slot, url, data);
            } else {
                video_->play(bank, slot, url, data, hiddenSlot());
            }
            break;
        case MediaType::audio:
            if (loops) {
                loops_->start(bank, slot, url, data);
            } else {
                playAudioOnly(bank, slot, url, data, hiddenSlot());
            }
            break;
        case MediaType::still:
            playStill(bank, slot, url, data);
            break;
    }
}

// ---- Still path ----

void PlaybackController::letStillDecodeGo() {
    if (stillDecodeStop_) {
        stillDecodeStop_->store(true);
        stillDecodeStop_.reset();
    }
}

void PlaybackController::playStill(int bank, int slot, const std::filesystem::path& url,
                                   const SlotData& data) {
    const uint64_t generation = playGeneration_;
    // Decoded at the size it is drawn at on the output, not the file's own.
    const QSize shownAt = output::stillDisplaySize(data.geometry, view_->monitorSize());
    stillDecodeStop_ = std::make_shared<std::atomic<bool>>(false);
    // The decode runs off the main thread; its result comes back as a step of this play. A
    // later cue lets it go: not begun, it never begins; under way, it stops where it can, and
    // its result is dropped unseen.
    runInBackground_([weak = weakSelf(), this, generation, bank, slot, url, data, shownAt,
                      stop = stillDecodeStop_, decode = decodeStill_] {
        if (stop->load()) {
            return;
        }
        auto still = std::make_shared<platform::DecodedStill>(
            decode(url, shownAt, [&stop] { return stop->load(); }));
        if (!weak.lock() || stop->load()) {
            return;
        }
        loop_.post([weak, this, generation, bank, slot, url, data, still] {
            if (!weak.lock() || generation != playGeneration_) {
                return;
            }
            if (!still->ok()) {
                platform::Console::log("still: cannot decode " + url.string() + ": " +
                                       still->error);
                log("静止画を表示できません: " + data.name + " (" + still->error + ")");
                cueFailed(bank, slot, still->error);
                return;
            }
            showDecodedStill(bank, slot, url, data, *still);
        });
    });
}

void PlaybackController::showDecodedStill(int bank, int slot, const std::filesystem::path& url,
                                          const SlotData& data,
                                          const platform::DecodedStill& still) {
    stillDecodeStop_.reset();
    PlaybackSlot& target = hiddenSlot();
    // Placed by the picture's own size, which a picture decoded reduced keeps beside it.
    const QSize ownSize = still.fullSize.isValid() ? still.fullSize : still.image.size();
    target.showStill(still.image, data.colorSettings, ownSize, url);
    currentURL_ = url;
    currentBankIndex.set(bank);
    currentSlotIndex.set(slot);
    selectedClipName.set(data.name);
    currentTime.set(0.0);
    const double stillSeconds =
        std::isfinite(data.stillDuration) && data.stillDuration > 0 ? data.stillDuration : 0.0;
    duration.set(stillSeconds);
    view_->applyGeometry(data.geometry, target, ownSize.width(), ownSize.height());
    view_->take({data.transitionMode == TransitionMode::dissolve, data.dissolveDuration});
    clock_->startStill(stillSeconds);
}

// ---- Audio-only path ----

void PlaybackController::playAudioOnly(int bank, int slot, const std::filesystem::path& url,
                                       const SlotData& data, PlaybackSlot& target) {
    const uint64_t generation = playGeneration_;
    const double inPoint = std::max(finiteOrNone(data.inPoint).value_or(0.0), 0.0);
    const auto outPoint = finiteOrNone(data.outPoint);
    const double clipDuration =
        data.clipInfo && std::isfinite(data.clipInfo->duration) ? data.clipInfo->duration : 0.0;

    applyClipEngineFormat(*view_, data);
    // The slot's picture side is emptied; the sound plays through its chain and the clip's item,
    // whose time follows the sound heard.
    target.clear();
    target.load(url, inPoint, outPoint, data.colorSettings);
    target.videoLayer()->setHidden(true);
    auto audio = makeAudioSettingsBox(data);
    applySlotLevel(target, audio->settings);
    target.audio().applyEqualizer(data.equalizer);

    publishStarting(bank, slot, url, data.name, inPoint, clipDuration);
    isAudioOnlySlot_ = true;

    view_->take({data.transitionMode == TransitionMode::dissolve, data.dissolveDuration});
    warmUp_->signalReady();
    startSlotAudio(generation, target, audio, inPoint,
                   [this, url, name = data.name,
                    item = std::weak_ptr(target.player()->current())](bool ready) {
                       if (ready) {
                           return;
                       }
                       const auto failed = item.lock();
                       platform::Console::log("audio: cannot play " + url.string() + ": " +
                                              (failed ? failed->error() : std::string()));
                       log("音声を再生できません: " + name);
                   });

    const double end = std::min(outPoint.value_or(clipDuration), clipDuration);
    if (inPoint < end) {
        clock_->watchAudio(target, inPoint, end);
    }
}

std::shared_ptr<SlotAudioSettingsBox> PlaybackController::makeAudioSettingsBox(
    const SlotData& data) const {
    auto box = std::make_shared<SlotAudioSettingsBox>();
    box->settings = data.audioSettings;
    return box;
}

void PlaybackController::applySlotLevel(PlaybackSlot& slot, const AudioSettings& settings) {
    // The output mute is read now: the operator may flip it while the slot is starting.
    slot.audio().setLevel(settings.masterLevel, settings.isMuted || isMuted.get());
}

float PlaybackController::slotVolume(const AudioSettings& settings) const {
    if (isMuted.get() || settings.isMuted || !std::isfinite(settings.masterLevel) ||
        settings.masterLevel <= AudioEngineController::kSilentGainDb) {
        return 0.0f;
    }
    return std::pow(10.0f, settings.masterLevel / 20.0f);
}

void PlaybackController::startSlotAudio(uint64_t generation, PlaybackSlot& slot,
                                        std::shared_ptr<SlotAudioSettingsBox> audio, double from,
                                        std::function<void(bool ready)> onStarted) {
    if (generation != playGeneration_) {
        return;
    }
    // The picture side needs no wait: the clip player prerolls the item from its first load on,
    // so its first picture is decoded once.
    if (!slot.audio().loadFinished() || !slot.player()->current()) {
        slotAudioPoll_ = loop_.after(kSlotAudioPoll, [weak = weakSelf(), this, generation,
                                                      target = &slot, audio, from, onStarted] {
            if (weak.lock()) {
                startSlotAudio(generation, *target, audio, from, onStarted);
            }
        });
        return;
    }
    applySlotLevel(slot, audio->settings);
    const auto item = slot.player()->current();
    if (item->statusValue() == platform::media::ItemStatus::Failed) {
        if (onStarted) {
            onStarted(false);
        }
        return;
    }
    slot.audio().startEngineIfNeeded();
    auto& clip = slot.clipPlayer();
    const auto& engineClock = view_->sharedEngine().clock();
    clip.play(slot.currentClip(), platform::ItemTime(from), engineClock->timeAt(loop_.now()),
              [weak = weakSelf(), this, generation, onStarted](bool ready) {
                  if (!weak.lock() || generation != playGeneration_) {
                      return;
                  }
                  if (!ready) {
                      platform::Console::log("playback: the clip could not start");
                  }
                  if (onStarted) {
                      onStarted(ready);
                  }
              });
}

}  // namespace kestio
