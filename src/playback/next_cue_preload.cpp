#include <cmath>
#include <utility>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/graphics/layer.h"
#include "platform/media/player_layer.h"
#include "platform/runloop/console.h"
#include "playback/clip_engine_format.h"
#include "playback/next_cue_preload.h"
#include "playback/playback_text.h"

namespace kestio {

using output::OutputSurface;
using output::PlaybackSlot;

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

NextCuePreload::NextCuePreload(platform::RunLoop& loop, OutputSurface& view, PlayEvents& events,
                               const platform::Published<bool>& isMuted)
    : loop_(loop), view_(view), events_(events), isMuted_(isMuted) {}

NextCuePreload::~NextCuePreload() {
    alive_.reset();
    retry_.cancel();
}

void NextCuePreload::start(Play& during, int bank, int slot, const std::filesystem::path& url,
                           const SlotData& data) {
    play_ = during.weak_from_this();
    // Only a video is preloaded; a loop is held at its in point like any other and starts there
    // at its take.
    if (data.mediaType != MediaType::video) {
        return;
    }
    if (data.isFileMissing) {
        platform::Console::log("preload: the file of " + bankSlotText(bank, slot) +
                               " is missing: " + url.string());
        return;
    }
    retry_.cancel();
    whenHiddenSlotIsFree(SlotRef{bank, slot}, url, data);
}

void NextCuePreload::whenHiddenSlotIsFree(SlotRef target, const std::filesystem::path& url,
                                          const SlotData& data) {
    OutputSurface& view = view_;
    // A play on its way to air holds the hidden slot until its take.
    const auto& cued = view.background();
    if (isFading(view) || (cued && cued->state == output::CueState::hiddenPlaying)) {
        retry_ = loop_.after(kPreloadRetrySeconds, stepOf(play_, [this, target, url, data] {
                                 whenHiddenSlotIsFree(target, url, data);
                             }));
        return;
    }
    events_.log("NextGo先読み開始: " + data.name);
    // The chains carry the engine's own format, so fitting them to the next clip leaves the
    // sound on air as it is.
    applyClipEngineFormat(view_, data);
    const double inPoint =
        data.inPoint && std::isfinite(*data.inPoint) ? std::max(*data.inPoint, 0.0) : 0.0;
    const std::optional<double> outPoint =
        data.outPoint && std::isfinite(*data.outPoint) ? data.outPoint : std::nullopt;
    load(target, url, data, inPoint, outPoint);
}

void NextCuePreload::load(SlotRef target, const std::filesystem::path& url, const SlotData& data,
                          double inPoint, std::optional<double> outPoint) {
    OutputSurface& view = view_;
    PlaybackSlot& hidden = view.hiddenSlot();
    hidden.load(url, inPoint, outPoint, data.colorSettings);
    const auto item = hidden.player()->current();
    output::Cue cue;
    cue.ref = target;
    cue.url = url;
    cue.state = output::CueState::loading;
    cue.audio = data.audioSettings;
    cue.item = item;
    cue.inPoint = inPoint;
    view.cue(std::move(cue));
    // The item is brought to the in point now, so that the play finds that picture decoded
    // and can switch to it at once.
    if (item && inPoint > 0.0) {
        item->seek(inPoint, 0.0, 0.0,
                   [weak = weakSelf(), this, weakItem = std::weak_ptr(item)](bool landed) {
                       if (!weak.lock() || !landed) {
                           return;
                       }
                       OutputSurface& surface = view_;
                       const auto& cued = surface.background();
                       if (cued && cued->state == output::CueState::loading &&
                           cued->item.lock() == weakItem.lock()) {
                           surface.setCueState(output::CueState::ready);
                       }
                   });
    } else if (item) {
        view.setCueState(output::CueState::ready);
    }
    // The output mute is folded into the slot's own; the chain silences -40 dB and below.
    hidden.audio().setLevel(data.audioSettings.masterLevel,
                            data.audioSettings.isMuted || isMuted_.get());
    hidden.audio().applyEqualizer(data.equalizer);
    // The sound is read ahead from the in point once the chain has it, so that the take starts
    // it with the picture, without waiting for it. Not once the cue is on its way to air: its
    // play schedules the sound itself.
    hidden.audio().whenLoaded([weak = weakSelf(), this, slot = &hidden,
                               weakItem = std::weak_ptr(item), inPoint](bool latest) {
        if (!weak.lock() || !latest || slot != &view_.hiddenSlot()) {
            return;
        }
        const auto& cued = view_.background();
        const auto loaded = weakItem.lock();
        if (!loaded || !cued || cued->item.lock() != loaded ||
            (cued->state != output::CueState::loading && cued->state != output::CueState::ready) ||
            slot->player()->current() != loaded) {
            return;
        }
        slot->clipPlayer().prepare(slot->currentClip(), platform::ItemTime(inPoint));
    });
}

bool NextCuePreload::pictureReady(PlaybackSlot& slot,
                                  const std::shared_ptr<platform::media::PlayerItem>& item,
                                  double inPoint) const {
    const auto& cued = view_.background();
    return cued && cued->state == output::CueState::ready && item && cued->item.lock() == item &&
           cued->inPoint == inPoint &&
           item->statusValue() == platform::media::ItemStatus::ReadyToPlay &&
           slot.playerLayer().readyForDisplay() && slot.audio().loadFinished();
}

}  // namespace kestio
