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
#include "playback/slot_sound.h"
#include "playback/start_rate.h"
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
    // An audio-only clip's clock stops at any play request, a warm-up's too.
    clock_->stopAudio();
    play_->audioOnly = false;
    if (isWarming()) {
        if (data.mediaType == MediaType::video) {
            warmUp_->warm(bank, slot, url, data);
        } else {
            warmUp_->signalReadyLater();
        }
        return;
    }

    // The hidden slot is taken as it is only when it holds this cue, loaded ahead and paused at
    // its in point (a preload, a loop's too); anything else there is cleared.
    const bool matched = view_->holdsCue(SlotRef{bank, slot}, url) &&
                         view_->background()->state != output::CueState::hiddenPlaying;
    // Every watcher and deferred step of the play before this one ends here, and a still being
    // decoded for it is let go.
    Play& play = beginPlay(SlotRef{bank, slot}, url);
    view_->prepareForPlay(matched);
    log("再生開始: " + bankSlotText(bank, slot) + " " + data.name +
        " transition=" + std::string(rawValue(data.transitionMode)) +
        " geo=" + std::string(rawValue(data.geometry.mode)) + "/scale" +
        wholePercent(data.geometry.scaleX) + "%");
    if (!matched) {
        // This play's own cue: started in the hidden slot and switched to air once ready.
        view_->cue(output::hiddenPlayingCue(SlotRef{bank, slot}, url, data.audioSettings));
    }
    // The clip on air keeps its picture and its sound until the switch, where the surface ends
    // both together (a cut clears the outgoing slot, a dissolve fades its sound out): its
    // picture follows its sound, so silencing it here would freeze the picture too.

    const bool loops = data.postRollMode == PostRollMode::loop;
    switch (data.mediaType) {
        case MediaType::video:
            if (loops) {
                loops_->start(play, data);
            } else {
                video_->start(play, data, hiddenSlot());
            }
            break;
        case MediaType::audio:
            if (loops) {
                loops_->start(play, data);
            } else {
                playAudioOnly(play, data, hiddenSlot());
            }
            break;
        case MediaType::still:
            playStill(play, data);
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

void PlaybackController::playStill(Play& play, const SlotData& data) {
    // Decoded at the size it is drawn at on the output, not the file's own.
    const QSize shownAt = output::stillDisplaySize(data.geometry, view_->monitorSize());
    stillDecodeStop_ = std::make_shared<std::atomic<bool>>(false);
    // The decode runs off the main thread; its result comes back as a step of this play. A
    // later cue lets it go: not begun, it never begins; under way, it stops where it can, and
    // its result is dropped unseen.
    auto shown = stepOf(
        play, [this, data](Play& current, const std::shared_ptr<platform::DecodedStill>& still) {
            if (!still->ok()) {
                platform::Console::log("still: cannot decode " + current.url.string() + ": " +
                                       still->error);
                log("静止画を表示できません: " + data.name + " (" + still->error + ")");
                cueFailed(current.ref.bank, current.ref.slot, still->error);
                return;
            }
            showDecodedStill(current, data, *still);
        });
    runInBackground_([weak = weakSelf(), this, url = play.url, shownAt, stop = stillDecodeStop_,
                      decode = decodeStill_, shown] {
        if (stop->load()) {
            return;
        }
        auto still = std::make_shared<platform::DecodedStill>(
            decode(url, shownAt, [&stop] { return stop->load(); }));
        if (!weak.lock() || stop->load()) {
            return;
        }
        loop_.post([shown, still]() mutable { shown(still); });
    });
}

void PlaybackController::showDecodedStill(Play& play, const SlotData& data,
                                          const platform::DecodedStill& still) {
    stillDecodeStop_.reset();
    PlaybackSlot& target = hiddenSlot();
    // Placed by the picture's own size, which a picture decoded reduced keeps beside it.
    const QSize ownSize = still.fullSize.isValid() ? still.fullSize : still.image.size();
    target.showStill(still.image, data.colorSettings, ownSize, play.url);
    const double stillSeconds =
        std::isfinite(data.stillDuration) && data.stillDuration > 0 ? data.stillDuration : 0.0;
    starting(play, data.name, 0.0, stillSeconds);
    view_->applyGeometry(data.geometry, target, ownSize.width(), ownSize.height());
    view_->take({data.transitionMode == TransitionMode::dissolve, data.dissolveDuration});
    clock_->start(play, ClipClock::StillWatch{stillSeconds, std::nullopt});
}

// ---- Audio-only path ----

void PlaybackController::playAudioOnly(Play& play, const SlotData& data, PlaybackSlot& target) {
    const double inPoint = std::max(finiteOrNone(data.inPoint).value_or(0.0), 0.0);
    const auto outPoint = finiteOrNone(data.outPoint);
    const double clipDuration =
        data.clipInfo && std::isfinite(data.clipInfo->duration) ? data.clipInfo->duration : 0.0;

    applyClipEngineFormat(*view_, data);
    // The slot's picture side is emptied; the sound plays through its chain and the clip's item,
    // whose time follows the sound heard.
    target.clear();
    target.load(play.url, inPoint, outPoint, data.colorSettings);
    target.videoLayer()->setHidden(true);
    sound_->applySound(target, data);
    // Its own rate: a chain keeps the rate of the clip it played last.
    target.clipPlayer().setRate(startRate(data.playRate),
                                view_->sharedEngine().clock()->timeAt(loop_.now()));

    starting(play, data.name, inPoint, clipDuration);
    play.audioOnly = true;

    view_->take({data.transitionMode == TransitionMode::dissolve, data.dissolveDuration});
    warmUp_->signalReady();
    sound_->start(play, target, data.audioSettings, inPoint,
                  [this, url = play.url, name = data.name,
                   item = std::weak_ptr(target.player()->current())](bool ready) {
                      if (ready) {
                          return;
                      }
                      const auto failed = item.lock();
                      platform::Console::log("audio: cannot play " + url.string() + ": " +
                                             (failed ? failed->error() : std::string()));
                      log("音声を再生できません: " + name);
                  });

    // An out point at or before the in point is no end, as for the sound loaded above.
    const double end =
        std::min(PlaybackSlot::endAfter(inPoint, outPoint).value_or(clipDuration), clipDuration);
    if (inPoint < end) {
        clock_->start(play, ClipClock::AudioWatch{target, inPoint, end});
    }
}

}  // namespace kestio
