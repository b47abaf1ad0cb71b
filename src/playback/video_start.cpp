#include <cmath>
#include <utility>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/media/player_layer.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/console.h"
#include "playback/clip_clock.h"
#include "playback/clip_engine_format.h"
#include "playback/next_cue_preload.h"
#include "playback/playback_text.h"
#include "playback/post_roll_policy.h"
#include "playback/slot_sound.h"
#include "playback/start_rate.h"
#include "playback/video_start.h"
#include "playback/warm_up.h"

namespace kestio {

using output::PlaybackSlot;

namespace {
// The layer switch guard: one switch in this many seconds; a request meanwhile is retried
// after kSwitchRetry.
constexpr double kSwitchBusy = 0.05;
constexpr double kSwitchRetry = 0.02;

long wholeMilliseconds(double seconds) {
    return long(std::floor(seconds * 1000.0));
}

std::string truth(bool value) {
    return value ? "true" : "false";
}

std::string targetText(const SlotRef& target) {
    return "(" + std::to_string(target.bank) + "," + std::to_string(target.slot) + ")";
}
}  // namespace

void VideoStart::start(Play& play, const SlotData& data, PlaybackSlot& target) {
    play_ = play.weak_from_this();
    const int bank = play.ref.bank;
    const int slot = play.ref.slot;
    const std::filesystem::path url = play.url;
    const platform::HostTime startedAt = loop_.now();
    const double inPoint =
        data.inPoint && std::isfinite(*data.inPoint) ? std::max(*data.inPoint, 0.0) : 0.0;
    std::optional<double> outPoint;
    if (data.outPoint && std::isfinite(*data.outPoint)) {
        outPoint = data.outPoint;
    }

    applyClipEngineFormat(view_, data);

    // The hidden slot holds either this play's own cue (loaded below) or the preload of this
    // cue, which the play takes over when its item is the one loaded there.
    const auto& cued = view_.background();
    const bool preloaded = cued && cued->state != output::CueState::hiddenPlaying;
    const bool targetMatch = preloaded && cued->ref == SlotRef{bank, slot};
    const bool urlMatch = preloaded && cued->url == url;
    const bool slotMatch = &target == &view_.hiddenSlot();
    const auto loaded = target.player()->current();
    const bool itemMatch = loaded && loaded->url() == url;
    const bool usePreload = targetMatch && urlMatch && slotMatch && itemMatch;
    if (preloaded && !usePreload) {
        events_.log("NextGo先読み不一致: targetMatch=" + truth(targetMatch) +
                    " urlMatch=" + truth(urlMatch) + " slotMatch=" + truth(slotMatch) +
                    " itemMatch=" + truth(itemMatch) + " preloadedTarget=" + targetText(cued->ref) +
                    " want=(" + std::to_string(bank) + "," + std::to_string(slot) + ")");
    }
    // Looked at before the clip player takes the item over (its start seeks it again).
    const bool showAtOnce = usePreload && parts_.preload.pictureReady(target, loaded, inPoint);
    view_.cue(output::hiddenPlayingCue(SlotRef{bank, slot}, url, data.audioSettings));
    if (usePreload) {
        events_.log("NextGo先読み使用: " + data.name + " → ロードをスキップ");
        // The slot may have been edited since its preload: the play's out point and colour
        // hold, as a load would have set them (the in point is sought at the start).
        const auto end = PlaybackSlot::endAfter(inPoint, outPoint);
        const double preloadedEnd = loaded->forwardPlaybackEndTime();
        if (end ? preloadedEnd != *end : std::isfinite(preloadedEnd)) {
            target.setEndTime(end);
        }
        target.colorSettingsBox().setValue(data.colorSettings);
    } else {
        target.load(url, inPoint, outPoint, data.colorSettings);
        events_.log("loadVideo: " + std::to_string(wholeMilliseconds(loop_.now() - startedAt)) +
                    "ms");
    }

    parts_.sound.applySound(target, data);

    const double clipDuration =
        data.clipInfo && std::isfinite(data.clipInfo->duration) ? data.clipInfo->duration : 0.0;
    events_.starting(play, data.name, inPoint, outPoint.value_or(clipDuration));

    const auto item = target.player()->current();
    if (!item) {
        events_.log("currentItem nil: " + data.name + " → 再生不可");
        return;
    }
    const double fps = data.clipInfo ? data.clipInfo->fps : 30.0;
    parts_.clock.start(play, ClipClock::VideoWatch{target, item, outPoint, inPoint, fps});

    StartContext context;
    context.play = play_;
    context.bank = bank;
    context.slot = slot;
    context.target = &target;
    context.item = item;
    context.data = data;
    context.startedAt = startedAt;
    context.dissolve = data.transitionMode == TransitionMode::dissolve;
    context.dissolveDuration = data.dissolveDuration;
    context.inPoint = inPoint;

    // Picture and sound are prerolled from now on, while the item's readiness is handled below.
    target.clipPlayer().setRate(startRate(data.playRate),
                                view_.sharedEngine().clock()->timeAt(loop_.now()));
    parts_.sound.start(play, target, data.audioSettings, inPoint, [this, context](bool ready) {
        if (!ready) {
            return;
        }
        *context.clipReady = true;
        switchWhenReady(context);
    });

    if (showAtOnce) {
        // The preloaded slot shows the clip's first picture already: it is placed and switched
        // in within this call, and the picture moves once the clip player starts picture and
        // sound together.
        *context.ready = true;
        showWhenReady(context);
        deferredStart(context);
        return;
    }
    // The status is looked at now (a preloaded item is ready already) and at each change; the
    // first look is a step of its own, so no handler runs inside this call.
    statusObserver_ = item->status().subscribe(stepOf(
        play, [this, context](const platform::media::ItemStatus&) { onItemReady(context); }));
    loop_.post(stepOf(play, [this, context] { onItemReady(context); }));
}

void VideoStart::onItemReady(const StartContext& context) {
    if (*context.ready) {
        return;
    }
    PlaybackSlot& target = *context.target;
    const auto status = context.item->statusValue();
    // A failure of this play's item is reported even when the player has let it go.
    if (status == platform::media::ItemStatus::Failed) {
        *context.ready = true;
        statusObserver_.reset();
        platform::Console::log("video: cannot play " + context.item->url().string() + ": " +
                               context.item->error());
        events_.log("映像を再生できません: " + context.data.name + " (" + context.item->error() +
                    ")");
        events_.cueFailed(context.bank, context.slot, context.item->error());
        return;
    }
    if (status != platform::media::ItemStatus::ReadyToPlay ||
        target.player()->current() != context.item) {
        return;
    }
    *context.ready = true;
    statusObserver_.reset();
    events_.log("映像 readyToPlay: " + context.data.name + " +" +
                std::to_string(wholeMilliseconds(loop_.now() - context.startedAt)) + "ms");
    loop_.post(stepOf(context.play, [this, context] { showWhenReady(context); }));
}

void VideoStart::showWhenReady(const StartContext& context) {
    PlaybackSlot& target = *context.target;
    const QSize presented = context.item->presentationSize();
    platform::SizeF native{double(presented.width()), double(presented.height())};
    if (presented.width() == 0 && presented.height() == 0) {
        native = view_.monitorSize();
    }
    if (!context.item->hasVideo()) {
        platform::Console::log("video: " + context.item->url().string() + " has no picture");
    }
    events_.log("presentationSize: " + sizeText(presented.width(), presented.height()) +
                " → nativeSize: " + sizeText(native.width, native.height));
    events_.log("isReadyForDisplay: " + context.data.name + " → 表示切り替え +" +
                std::to_string(wholeMilliseconds(loop_.now() - context.startedAt)) + "ms");
    if (!(native.width == 0.0 && native.height == 0.0)) {
        view_.applyGeometry(context.data.geometry, target, native.width, native.height);
    }
    *context.placed = true;
    if (!context.dissolve && !*context.started) {
        // A cut needs no more than the first picture: the clip stands on it until the clip
        // player starts picture and sound together, which may take the sound's read-ahead
        // longer.
        shownObserver_ = target.playerLayer().isReadyForDisplay().subscribe(
            stepOf(context.play, [this, context](const bool&) { switchWhenReady(context); }));
    }
    switchWhenReady(context);
}

void VideoStart::switchWhenReady(const StartContext& context) {
    if (!*context.placed || *context.started) {
        return;
    }
    // A dissolve fades in from the clip's start, so it waits for it; a cut goes in as soon as
    // the slot shows the clip's first picture (the old clip stays on air until then).
    const bool shown = !context.dissolve && context.target->playerLayer().readyForDisplay();
    if (!*context.clipReady && !shown) {
        return;
    }
    shownObserver_.reset();
    deferredStart(context);
}

void VideoStart::deferredStart(const StartContext& context) {
    const auto play = inForce(context.play);
    if (!play || *context.started) {
        return;
    }
    *context.started = true;
    performLayerSwitch(*play, [this, context] { startAndSwitch(context); });
}

void VideoStart::startAndSwitch(const StartContext& context) {
    PlaybackSlot& target = *context.target;
    if (!context.dissolve) {
        view_.logLayerState("cut直前");
    }
    view_.take({context.dissolve, context.dissolveDuration}, target.clipPlayer().startTime().get());
    if (!context.dissolve) {
        view_.logLayerState("cut直後");
    }
    parts_.warmUp.signalReady();
    // The follower to preload, as the slot's post-roll says now.
    if (const auto next = parts_.policy.followerAtPlay(SlotRef{context.bank, context.slot})) {
        // On a later turn: the cut's picture goes to the views before the follower's file is
        // opened.
        loop_.post(stepOf(context.play,
                          [this, next = *next] { events_.followerWanted(next.bank, next.slot); }));
    }
}

void VideoStart::performLayerSwitch(Play& play, std::function<void()> action) {
    // Asked for within a step that may have begun a newer play (a warm-up's ready signal).
    if (play.ended) {
        return;
    }
    if (isSwitchingLayer_) {
        loop_
            .after(kSwitchRetry, stepOf(play,
                                        [this, action = std::move(action)](Play& current) mutable {
                                            performLayerSwitch(current, std::move(action));
                                        }))
            .detach();
        return;
    }
    isSwitchingLayer_ = true;
    action();
    loop_
        .after(kSwitchBusy,
               [weak = std::weak_ptr<bool>(alive_), this] {
                   if (weak.lock()) {
                       isSwitchingLayer_ = false;
                   }
               })
        .detach();
}

void VideoStart::requestLayerSwitch(Play& play, LayerSwitch change) {
    performLayerSwitch(play, [this, change] { switchLayer(change); });
}

void VideoStart::switchLayer(const LayerSwitch& change) {
    if (change.target == nullptr) {
        return;
    }
    if (!change.dissolve) {
        view_.logLayerState("cutLoop直前");
    }
    view_.take({change.dissolve, change.duration}, change.target->clipPlayer().startTime().get());
    if (!change.dissolve) {
        view_.logLayerState("cutLoop直後");
    }
}

bool VideoStart::isReadyToSwitch(PlaybackSlot& slot, bool dissolve) const {
    if (!slot.playerLayer().readyForDisplay()) {
        return false;
    }
    const auto item = slot.player()->current();
    if (item && !item->likelyToKeepUp()) {
        return false;
    }
    return !dissolve || slot.player()->rateValue() > 0.0f;
}

}  // namespace kestio
