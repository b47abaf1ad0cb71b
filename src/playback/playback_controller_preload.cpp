// Next-cue preload: the successor of a video on air is loaded, paused and hidden, into the hidden
// slot and cued there with the output surface, so that its cut needs no load time. A looping cue
// is never preloaded: a fired loop starts at its in point, so nothing of it may run ahead. The
// play entry recognises a preload by asking the surface whether it holds that cue.

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
    // Only a video that plays through the video path is preloaded.
    if (data.mediaType != MediaType::video || data.postRollMode == PostRollMode::loop) {
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
    // A play on its way to air holds the hidden slot until its take.
    const auto& cued = view_->background();
    if (isFading(*view_) || (cued && cued->state == output::CueState::hiddenPlaying)) {
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
    preloadItem(target, url, data, inPoint, outPoint);
}

void PlaybackController::preloadItem(SlotRef target, const std::filesystem::path& url,
                                     const SlotData& data, double inPoint,
                                     std::optional<double> outPoint) {
    PlaybackSlot& hidden = hiddenSlot();
    hidden.load(url, inPoint, outPoint, data.colorSettings);
    const auto item = hidden.player()->current();
    output::Cue cue;
    cue.ref = target;
    cue.url = url;
    cue.state = output::CueState::loading;
    cue.audio = data.audioSettings;
    cue.item = item;
    cue.inPoint = inPoint;
    view_->cue(std::move(cue));
    // The item is brought to the in point now, so that the play finds that picture decoded
    // and can switch to it at once.
    if (item && inPoint > 0.0) {
        item->seek(inPoint, 0.0, 0.0,
                   [weak = weakSelf(), this, weakItem = std::weak_ptr(item)](bool landed) {
                       const auto& cued = view_->background();
                       if (weak.lock() && landed && cued &&
                           cued->state == output::CueState::loading &&
                           cued->item.lock() == weakItem.lock()) {
                           view_->setCueState(output::CueState::ready);
                       }
                   });
    } else if (item) {
        view_->setCueState(output::CueState::ready);
    }
    // The output mute is folded into the slot's own; the chain silences -40 dB and below.
    hidden.audio().setLevel(data.audioSettings.masterLevel,
                            data.audioSettings.isMuted || isMuted.get());
    hidden.audio().applyEqualizer(data.equalizer);
}

bool PlaybackController::preloadedPictureReady(PlaybackSlot& slot, const ItemPtr& item,
                                               double inPoint) const {
    const auto& cued = view_->background();
    return cued && cued->state == output::CueState::ready && item && cued->item.lock() == item &&
           cued->inPoint == inPoint &&
           item->statusValue() == platform::media::ItemStatus::ReadyToPlay &&
           slot.playerLayer().readyForDisplay() && slot.audio().loadFinished();
}

}  // namespace kestio
