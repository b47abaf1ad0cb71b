// Post-roll: carrying out the step the post-roll policy gives a mode (play a slot, freeze on the
// last frame, restart the clip on air, black).

#include <cmath>
#include <utility>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/audio/audio_player_node.h"
#include "platform/media/asset.h"
#include "platform/media/media_time.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/console.h"
#include "playback/clip_clock.h"
#include "playback/frame_duration.h"
#include "playback/loop_runner.h"
#include "playback/playback_controller.h"
#include "playback/playback_text.h"

namespace kestio {

namespace {
// A still's duration when its slot data cannot be read.
constexpr double kDefaultStillDuration = 5.0;

}  // namespace

void PlaybackController::handlePostRoll(PostRollMode mode) {
    // The slot on air; before the first take, the cue on its way there stands for it, so that a
    // black asked for meanwhile still ends it.
    auto slot = slotOnAir();
    if (const auto& cue = view_->background();
        !slot && cue && cue->state == output::CueState::hiddenPlaying) {
        slot = cue->ref;
    }
    if (!slot) {
        return;
    }
    const SlotRef onAir = *slot;
    log("PostRoll: " + std::string(rawValue(mode)) + " " + bankSlotText(onAir.bank, onAir.slot));
    const PostRollStep step = postRoll_.stepFor(mode, onAir);
    if (step.standIn) {
        log("PostRoll: " + std::string(rawValue(*step.standIn)) + " " +
            bankSlotText(onAir.bank, onAir.slot));
    }
    if (step.note) {
        log(*step.note);
    }
    switch (step.action) {
        case PostRollAction::playSlot:
            if (step.slot && onRequestPlay) {
                onRequestPlay(step.slot->bank, step.slot->slot);
            }
            break;
        case PostRollAction::freezeOnLastFrame:
            freezeOnLastFrame(*play_);
            break;
        case PostRollAction::restart:
            restartOnAir(onAir);
            break;
        case PostRollAction::black:
            goBlack();
            break;
    }
}

void PlaybackController::freezeOnLastFrame(Play& play) {
    PlaybackSlot& showing = showingSlot();
    if (showing.isStill()) {
        return;
    }
    if (loops_->isRunning()) {
        showing.stopLooping();
        loops_->markEnded();
    }
    showing.clipPlayer().stop();
    showing.player()->pause();
    showing.audio().playerNode()->pause();
    const auto item = showing.player()->current();
    if (!item) {
        return;
    }
    const auto data = slotDataOnAir();
    std::optional<double> outPoint;
    if (data && data->outPoint && std::isfinite(*data->outPoint)) {
        outPoint = platform::media::MediaTime::seconds(*data->outPoint);
    }
    // The end time and the frame rate come from the asset's probe, loaded off the main thread;
    // the seek is a step of this play only.
    // The asset keeps the completion until it answers: it holds the item and player weakly,
    // since the item holds the asset.
    std::weak_ptr<platform::media::PlayerItem> weakItem = item;
    std::weak_ptr<platform::media::QueuePlayer> weakPlayer = showing.player();
    item->asset()->loadInfo(
        stepOf(play, [this, outPoint, weakItem,
                      weakPlayer](const platform::media::Loaded<platform::media::MediaInfo>& info) {
            const auto heldItem = weakItem.lock();
            const auto player = weakPlayer.lock();
            if (!heldItem || !player || player->current() != heldItem) {
                return;
            }
            double end = 0.0;
            if (outPoint) {
                end = *outPoint;
            } else if (info && std::isfinite(info->duration)) {
                end = info->duration;
            }
            if (!(end > 0.0)) {
                return;
            }
            std::optional<double> rate;
            if (info) {
                const auto videos = info->tracksOfKind(platform::media::TrackKind::Video);
                if (!videos.empty()) {
                    rate = videos.front().nominalFrameRate;
                }
            }
            const double frame = frameDuration(rate);
            if (end <= frame) {
                return;
            }
            // A clip that stands within its last frame before the end (it played there, or an
            // out point was set at the picture on screen) holds the picture it shows: a seek
            // could only step it back a frame after that picture was seen.
            if (const double now = player->currentTime();
                now >= end - frame - 1e-9 && now <= end + 1e-6) {
                return;
            }
            const double target = end - frame;
            // Anywhere within half a frame of the target would do; the middle of the last frame's
            // interval, at its upper edge, always shows that frame, even when the table's frame is
            // a 1001 one for a clip of whole frames a second.
            player->seek(target + frame / 2.0, 0.0, 0.0);
            const std::string line = "freeze seek: outPoint=" + shortestDouble(end) +
                                     " target=" + shortestDouble(target);
            platform::Console::log(line);
            log(line);
        }));
}

void PlaybackController::restartOnAir(SlotRef onAir) {
    if (showingSlot().isStill()) {
        const auto data = slotDataOnAir();
        clock_->start(*play_,
                      ClipClock::StillWatch{data ? data->stillDuration : kDefaultStillDuration,
                                            std::nullopt});
        return;
    }
    if (!loops_->isRunning() && onRequestPlay) {
        onRequestPlay(onAir.bank, onAir.slot);
    }
}

void PlaybackController::stopOutput() {
    goBlack();
}

void PlaybackController::goBlack() {
    // Nothing is on air from here on: a play of no slot.
    beginPlay(SlotRef{}, {});
    view_->stopAll();
    publishIdle();
}

}  // namespace kestio
