// Post-roll steps: carrying out the mode the post-roll policy chose (next, freeze, loop, black,
// jump).

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
    if (!currentBankIndex.get() || !currentSlotIndex.get()) {
        return;
    }
    const int bank = *currentBankIndex.get();
    const int slot = *currentSlotIndex.get();
    log("PostRoll: " + std::string(rawValue(mode)) + " " + bankSlotText(bank, slot));
    switch (mode) {
        case PostRollMode::next:
            postRollNext(bank, slot);
            break;
        case PostRollMode::freeze:
            postRollFreeze(playGeneration_);
            break;
        case PostRollMode::loop:
            postRollLoop(bank, slot);
            break;
        case PostRollMode::black:
            postRollBlack();
            break;
        case PostRollMode::jump:
            postRollJump(bank, slot);
            break;
    }
}

std::optional<SlotRef> PlaybackController::nextPostRollTarget(int bank, int slot) const {
    return postRoll_.nextTarget(bank, slot);
}

void PlaybackController::postRollNext(int bank, int slot) {
    const auto next = nextPostRollTarget(bank, slot);
    if (!next) {
        handlePostRoll(PostRollMode::black);
        return;
    }
    if (next->bank != bank) {
        log("PostRoll Next: BANK" + std::to_string(bank + 1) + " → BANK" +
            std::to_string(bank + 2) + " SLOT1");
    }
    if (onRequestPlay) {
        onRequestPlay(next->bank, next->slot);
    }
}

void PlaybackController::postRollFreeze(uint64_t generation) {
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
    item->asset()->loadInfo([weak = weakSelf(), this, generation, outPoint, weakItem, weakPlayer](
                                const platform::media::Loaded<platform::media::MediaInfo>& info) {
        const auto heldItem = weakItem.lock();
        const auto player = weakPlayer.lock();
        if (!weak.lock() || generation != playGeneration_ || !heldItem || !player ||
            player->current() != heldItem) {
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
        const double target = end - frame;
        // Anywhere within half a frame of the target would do; the middle of the last frame's
        // interval, at its upper edge, always shows that frame, even when the table's frame is
        // a 1001 one for a clip of whole frames a second.
        player->seek(target + frame / 2.0, 0.0, 0.0);
        const std::string line =
            "freeze seek: outPoint=" + shortestDouble(end) + " target=" + shortestDouble(target);
        platform::Console::log(line);
        log(line);
    });
}

void PlaybackController::postRollLoop(int bank, int slot) {
    if (showingSlot().isStill()) {
        const auto data = slotDataOnAir();
        clock_->startStill(data ? data->stillDuration : kDefaultStillDuration);
        return;
    }
    if (!loops_->isRunning() && onRequestPlay) {
        onRequestPlay(bank, slot);
    }
}

void PlaybackController::postRollBlack() {
    removeObservers();
    // Every deferred step of the clip that was on air is void from here on.
    ++playGeneration_;
    letStillDecodeGo();
    view_->stopAll();
    clock_->stopAudio();
    isAudioOnlySlot_ = false;
    currentURL_.reset();
    publishIdle();
}

void PlaybackController::postRollJump(int bank, int slot) {
    const auto target = postRoll_.jumpTarget(bank, slot);
    if (!target) {
        platform::Console::log("⚠️ JUMP: target not set, freezing");
        handlePostRoll(PostRollMode::freeze);
        return;
    }
    if (onRequestPlay) {
        onRequestPlay(target->bank, target->slot);
    }
}

}  // namespace kestio
