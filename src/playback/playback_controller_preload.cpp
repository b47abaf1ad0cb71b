// Next-cue preload: the successor of a video on air is loaded, paused and hidden, into the hidden
// slot, so that its cut needs no load time. A looping cue is started looping there instead,
// hidden and silent, as the warm-up leaves a loop: the loop path switches it in as it runs. A
// loop taken off air by a cue without a follower of its own is preloaded so once that cue is
// switched in, so that firing it again is as quick. The play entry recognises a preload by
// target and URL.

#include <cmath>
#include <utility>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/graphics/layer.h"
#include "platform/media/player_layer.h"
#include "platform/runloop/console.h"
#include "playback/playback_controller.h"
#include "playback/playback_text.h"

namespace kestio {

namespace {
// How often a preload waiting for a dissolve to end looks again.
constexpr double kPreloadRetrySeconds = 0.05;
// Read-ahead of a preloaded loop's template item, as the loop path gives it.
constexpr double kPreloadedLoopBuffer = 5.0;

// The hidden slot still shows in a dissolve: fading out above the slot on air, or under it while
// that one fades in (and until the clean-up hides it just after). Loading it now would replace
// the picture the audience still sees, and the dissolve's clean-up would then clear what was
// loaded.
bool isFading(OutputSurface& view) {
    const auto fades = [](PlaybackSlot& slot) {
        const auto& layer = slot.containerLayer();
        return layer->hasAnimation(PlaybackSlot::kFadeOut) ||
               layer->hasAnimation(PlaybackSlot::kFadeIn);
    };
    return fades(view.hiddenSlot()) || fades(view.showingSlot()) ||
           view.hiddenSlot().containerLayer()->opacity() > 0.0f;
}
}  // namespace

void PlaybackController::preloadNext(int bank, int slot, const std::filesystem::path& url,
                                     const SlotData& data) {
    // Only a video is preloaded: one that plays through the video path, or a looping one.
    if (data.mediaType != MediaType::video) {
        return;
    }
    if (data.isFileMissing) {
        platform::Console::log("preload: the file of " + bankSlotText(bank, slot) +
                               " is missing: " + url.string());
        return;
    }
    preloadRetry_.cancel();
    preloadWhenHiddenSlotIsFree(playGeneration_, SlotRef{bank, slot}, url, data);
}

void PlaybackController::preloadWhenHiddenSlotIsFree(uint64_t generation, SlotRef target,
                                                     const std::filesystem::path& url,
                                                     const SlotData& data) {
    if (generation != playGeneration_) {
        return;
    }
    if (isFading(*view_)) {
        preloadRetry_ = loop_.after(
            kPreloadRetrySeconds, [weak = weakSelf(), this, generation, target, url, data] {
                if (weak.lock()) {
                    preloadWhenHiddenSlotIsFree(generation, target, url, data);
                }
            });
        return;
    }
    log("NextGo先読み開始: " + data.name);
    // The chains carry the engine's own format, so fitting them to the next clip leaves the
    // sound on air as it is.
    configureAudioEngine(data);
    const double inPoint =
        data.inPoint && std::isfinite(*data.inPoint) ? std::max(*data.inPoint, 0.0) : 0.0;
    const std::optional<double> outPoint =
        data.outPoint && std::isfinite(*data.outPoint) ? data.outPoint : std::nullopt;
    preloadedPicture_.reset();
    if (data.postRollMode == PostRollMode::loop) {
        preloadLoop(generation, url, data, inPoint, outPoint);
    } else {
        preloadItem(url, data, inPoint, outPoint);
    }
    preloadedNextTarget_ = target;
    preloadedNextURL_ = url;
}

void PlaybackController::preloadItem(const std::filesystem::path& url, const SlotData& data,
                                     double inPoint, std::optional<double> outPoint) {
    PlaybackSlot& hidden = hiddenSlot();
    hidden.load(url, inPoint, outPoint, data.colorSettings);
    // The item is brought to the in point now, so that the play finds that picture decoded
    // and can switch to it at once.
    if (const auto item = hidden.player()->current(); item && inPoint > 0.0) {
        item->seek(inPoint, 0.0, 0.0,
                   [weak = weakSelf(), this, weakItem = std::weak_ptr(item), inPoint](bool landed) {
                       if (weak.lock() && landed) {
                           preloadedPicture_ = PreloadedPicture{weakItem, inPoint};
                       }
                   });
    } else if (item) {
        preloadedPicture_ = PreloadedPicture{item, 0.0};
    }
    // The output mute is folded into the slot's own; the chain silences -40 dB and below.
    hidden.audio().setLevel(data.audioSettings.masterLevel,
                            data.audioSettings.isMuted || isMuted.get());
    hidden.audio().applyEqualizer(data.equalizer);
}

void PlaybackController::preloadLoop(uint64_t generation, const std::filesystem::path& url,
                                     const SlotData& data, double inPoint,
                                     std::optional<double> outPoint) {
    PlaybackSlot& hidden = hiddenSlot();
    hidden.load(url, inPoint, outPoint, data.colorSettings);
    // Its sound runs with its picture from now on: the chain stays muted until the loop path
    // brings the slot's level up at the switch.
    hidden.audio().setLevel(data.audioSettings.masterLevel, true);
    hidden.audio().applyEqualizer(data.equalizer);
    const auto item = hidden.player()->current();
    if (!item) {
        platform::Console::log("preload: no item for " + url.string());
        return;
    }
    item->setPreferredForwardBufferDuration(kPreloadedLoopBuffer);
    hidden.startLoop(url, item->asset(), item, inPoint, outPoint,
                     [weak = weakSelf(), this, generation, name = data.name] {
                         if (weak.lock() && generation == playGeneration_) {
                             log("NextGo先読みループ準備完了: " + name);
                         }
                     });
}

void PlaybackController::prepareLoopAgainLater(uint64_t generation) {
    const auto loop = std::exchange(loopToPrepareAgain_, std::nullopt);
    if (!loop) {
        return;
    }
    // On a later turn, as a follower's preload: the switch reaches the views first. The preload
    // waits out a dissolve still fading the loop's picture out of the hidden slot.
    postForGeneration(generation, [this, loop = *loop] {
        if (onRequestPreloadNext) {
            onRequestPreloadNext(loop.bank, loop.slot);
        }
    });
}

bool PlaybackController::preloadedPictureReady(PlaybackSlot& slot, const ItemPtr& item,
                                               double inPoint) const {
    return preloadedPicture_ && item && preloadedPicture_->item.lock() == item &&
           preloadedPicture_->inPoint == inPoint &&
           item->statusValue() == platform::media::ItemStatus::ReadyToPlay &&
           slot.playerLayer().readyForDisplay() && slot.audio().loadFinished();
}

}  // namespace kestio
