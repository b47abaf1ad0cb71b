#include <cmath>
#include <cstdio>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/media/decoded_player_looper.h"
#include "platform/media/player_item.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/console.h"
#include "playback/clip_engine_format.h"
#include "playback/loop_runner.h"
#include "playback/playback_text.h"
#include "playback/post_roll_policy.h"
#include "playback/slot_sound.h"
#include "playback/start_rate.h"
#include "playback/video_start.h"
#include "playback/warm_up.h"

namespace kestio {

using output::PlaybackSlot;

namespace {
// The position observer's interval.
constexpr double kLoopObserverInterval = 0.05;
// The wait for a loop's slot to become ready gives it this long before looking at its layer.
constexpr double kLoopReadyFallback = 2.0;
// A seam this near the start of the item is no usable seam: the post-roll applies at once.
constexpr double kNoUsableSeam = 0.15;
// A post-roll that starts another clip is asked for this long before the seam.
constexpr double kReleaseLead = 0.1;
// A published duration this long or longer is left as it is.
constexpr double kDurationGuard = 10000.0;
// How long a release that lands on a seam the run loop has not handled yet waits for it.
constexpr double kSeamNotHandledYet = 0.001;
// Its forward buffer while it loops.
constexpr double kLoopTemplateBuffer = 5.0;

bool positiveDuration(double d) {
    return std::isfinite(d) && d > 0.0;
}

std::optional<double> finitePoint(const std::optional<double>& value) {
    if (value && std::isfinite(*value)) {
        return value;
    }
    return std::nullopt;
}

std::string fixed2(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string modeName(PostRollMode mode) {
    return std::string(rawValue(mode));
}

}  // namespace

// What one wait for a loop's slot to be ready to switch in holds: the three observations, the
// fallback and whether the switch step ran.
struct LoopRunner::ReadyWait {
    bool fired = false;
    platform::Subscription layerReady;
    platform::Subscription rate;
    platform::Subscription keepUp;
    platform::TimerHandle fallback;

    void end() {
        fired = true;
        layerReady.reset();
        rate.reset();
        keepUp.reset();
        fallback.cancel();
    }
};

LoopRunner::LoopRunner(platform::RunLoop& loop, output::OutputSurface& view, NowPlaying now,
                       PlayEvents& events, Parts parts)
    : loop_(loop), view_(view), now_(now), events_(events), parts_(parts) {}

LoopRunner::~LoopRunner() {
    alive_.reset();
    stop();
}

void LoopRunner::stop() {
    running_ = false;
    timeObserver_.reset();
    boundaryObserver_.reset();
    endObserver_.reset();
    play_.reset();
}

void LoopRunner::start(Play& play, const RunningLoop& running) {
    running_ = true;
    slot_ = &running.slot;
    play_ = play.weak_from_this();
    watch(play, running.slot, running.outPoint);
}

void LoopRunner::start(Play& play, const SlotData& data) {
    const std::filesystem::path url = play.url;
    const double inPoint = std::max(finitePoint(data.inPoint).value_or(0.0), 0.0);
    const auto outPoint = finitePoint(data.outPoint);
    const platform::HostTime startedAt = loop_.now();
    stop();
    running_ = true;
    play_ = play.weak_from_this();
    PlaybackSlot& target = view_.hiddenSlot();
    slot_ = &target;
    applyClipEngineFormat(view_, data);
    // The clip on air keeps its sound until the switch, where the surface ends it with its
    // picture (a cut at once, a dissolve by fading it out).
    target.audio().applyEqualizer(data.equalizer);
    // The chain's level, with the output mute as it is when applied (the operator may flip it
    // while the loop is starting).
    const auto applyLevel = [this, settings = data.audioSettings](PlaybackSlot& chainSlot) {
        parts_.sound.applyLevel(chainSlot, settings);
    };

    events_.starting(play, data.name, inPoint, outPoint.value_or(0.0));

    const auto elapsedMs = [this, startedAt] {
        return std::to_string(int64_t((loop_.now() - startedAt) * 1000.0));
    };
    const auto placePicture = [this, &target, geometry = data.geometry] {
        double width = view_.monitorSize().width;
        double height = view_.monitorSize().height;
        if (const auto item = target.player()->current()) {
            const QSize size = item->presentationSize();
            if (size.width() != 0 || size.height() != 0) {
                width = size.width();
                height = size.height();
            }
        }
        view_.applyGeometry(geometry, target, width, height);
    };

    // A loop always starts at its in point: a preload of this cue left its item paused there,
    // and its first pass starts from what that item holds; anything else the hidden slot ran
    // before (a warm-up's loop, another preload) was cleared by the play entry, and the clip is
    // loaded here.
    events_.log("LoopVideo 開始: " + data.name + " IN=" + shortestDouble(inPoint) + " OUT=" +
                (outPoint ? "Optional(" + shortestDouble(*outPoint) + ")" : std::string("nil")));
    applyLevel(target);
    const auto& cued = view_.background();
    const auto held = target.player()->current();
    const bool preloaded = cued && cued->state != output::CueState::hiddenPlaying &&
                           cued->ref == play.ref && cued->url == url && held &&
                           cued->item.lock() == held && cued->inPoint == inPoint;
    view_.cue(output::hiddenPlayingCue(play.ref, url, data.audioSettings));
    if (preloaded) {
        events_.log("NextGo先読み使用: " + data.name + " → ロードをスキップ");
    } else {
        // The clip is loaded colour-corrected from its first picture.
        target.load(url, inPoint, outPoint, data.colorSettings);
    }
    // Its item is the loop's first pass and the template of the others.
    const auto item = target.player()->current();
    if (!item) {
        platform::Console::log("loop: no item for " + url.string());
        events_.log("LoopVideo 開始できません: " + data.name);
        return;
    }
    item->setPreferredForwardBufferDuration(kLoopTemplateBuffer);
    // Its own rate: a chain keeps the rate of the clip it played last.
    target.clipPlayer().setRate(startRate(data.playRate),
                                view_.sharedEngine().clock()->timeAt(loop_.now()));
    watch(play, target, outPoint);
    target.startLoop(
        url, item->asset(), item, inPoint, outPoint,
        stepOf(play, [this, targetPtr = &target, data, applyLevel, elapsedMs,
                      placePicture](Play& current) {
            events_.log("LoopVideo readyToPlay: " + data.name + " +" + elapsedMs() + "ms");
            placePicture();
            // The sound runs with the picture on the slot's clip player.
            applyLevel(*targetPtr);
            targetPtr->audio().startEngineIfNeeded();
            cutWhenReady(
                current, *targetPtr, data.transitionMode, data.dissolveDuration,
                [this, name = data.name, elapsedMs] {
                    events_.log("LoopVideo 表示切り替え: " + name + " +" + elapsedMs() + "ms");
                });
            // The slot's post-roll may have changed while the loop was starting:
            // the loop runs, so a release can end it now.
            if (const PostRollMode mode = postRollModeOnAir();
                mode != PostRollMode::loop && !current.ended) {
                release(mode);
            }
        }));
}

PostRollMode LoopRunner::postRollModeOnAir() const {
    const auto play = play_.lock();
    if (!play) {
        return PostRollMode::freeze;
    }
    return parts_.policy.atEnd(play->ref);
}

void LoopRunner::cutWhenReady(Play& play, PlaybackSlot& slot, TransitionMode transition,
                              double dissolveDuration, std::function<void()> onReady) {
    const bool dissolve = transition == TransitionMode::dissolve;
    auto switchStep = stepOf(play, [this, slotPtr = &slot, dissolve, dissolveDuration,
                                    onReady = std::move(onReady)](Play& current) {
        if (onReady) {
            onReady();
        }
        parts_.warmUp.signalReady();
        parts_.video.requestLayerSwitch(
            current, VideoStart::LayerSwitch{dissolve, slotPtr, dissolveDuration});
    });
    if (readyWait_) {
        readyWait_->end();
        readyWait_.reset();
    }
    if (view_.isWarming() || parts_.video.isReadyToSwitch(slot, dissolve)) {
        switchStep();
        return;
    }

    auto wait = std::make_shared<ReadyWait>();
    readyWait_ = wait;
    std::weak_ptr<ReadyWait> weakWait = wait;
    // Runs the switch step once, for this wait and this play only.
    auto fire = [weak = weakSelf(), this, weakWait, switchStep]() mutable {
        const auto current = weakWait.lock();
        if (!weak.lock() || !current || current->fired) {
            return;
        }
        current->end();
        if (readyWait_ == current) {
            readyWait_.reset();
        }
        switchStep();
    };
    auto readinessChanged = [this, slotPtr = &slot, dissolve, fire]() mutable {
        if (parts_.video.isReadyToSwitch(*slotPtr, dissolve)) {
            fire();
        }
    };
    wait->layerReady = slot.playerLayer().isReadyForDisplay().subscribe(
        [readinessChanged](const bool&) mutable { readinessChanged(); });
    wait->rate = slot.player()->rate().subscribe(
        [readinessChanged](const float&) mutable { readinessChanged(); });
    if (const auto item = slot.player()->current()) {
        wait->keepUp = item->isPlaybackLikelyToKeepUp().subscribe(
            [readinessChanged](const bool&) mutable { readinessChanged(); });
    }
    // Switches when the layer can show a picture by then; otherwise the observations wait on.
    wait->fallback = loop_.after(kLoopReadyFallback, [slotPtr = &slot, fire]() mutable {
        if (slotPtr->playerLayer().readyForDisplay()) {
            fire();
        }
    });
}

void LoopRunner::watch(Play& play, PlaybackSlot& slot, std::optional<double> outPoint) {
    if (outPoint) {
        now_.duration.set(*outPoint);
    }
    boundary_ = outPoint;
    slot.currentItemObserver() = slot.player()->observeCurrentItem(stepOf(
        play, [this, slotPtr = &slot](const std::shared_ptr<platform::media::PlayerItem>& oldItem,
                                      const std::shared_ptr<platform::media::PlayerItem>& newItem) {
            if (oldItem != newItem) {
                itemChanged(*slotPtr);
            }
        }));
    timeObserver_ = slot.player()->addPeriodicTimeObserver(
        kLoopObserverInterval, stepOf(play, [this](double time) { periodicTime(time); }));
}

void LoopRunner::itemChanged(PlaybackSlot& slot) {
    const auto& player = *slot.player();
    const auto current = player.current();
    std::string text;
    int index = 0;
    for (const auto& item : player.items()) {
        if (index > 0) {
            text += " / ";
        }
        const auto ranges = item->loadedTimeRanges();
        text += "item" + std::to_string(index) + (item == current ? "(現在再生中)" : "") +
                ": status=" + std::to_string(int(item->statusValue())) +
                " keepUp=" + (item->likelyToKeepUp() ? "true" : "false") +
                " buffered=" + fixed2(ranges.empty() ? -1.0 : ranges.front().duration) + "s";
        ++index;
    }
    events_.log("🔁 ループ継ぎ目検知（currentItem切替）: " + text);
}

void LoopRunner::periodicTime(double time) {
    if (now_.isSeeking) {
        return;
    }
    now_.currentTime.set(time);
    if (slot_ == nullptr) {
        return;
    }
    const auto& player = *slot_->player();
    const auto item = player.current();
    const double itemDuration = item ? item->duration() : std::nan("");
    const double d = now_.duration.get();
    if (!positiveDuration(d)) {
        if (positiveDuration(itemDuration)) {
            now_.duration.set(itemDuration);
        } else if (const auto items = player.items();
                   !items.empty() && positiveDuration(items.front()->duration())) {
            now_.duration.set(items.front()->duration());
        }
    } else if (d >= kDurationGuard) {
        return;
    } else if (std::isfinite(itemDuration) && d < itemDuration) {
        now_.duration.set(itemDuration);
    }
}

void LoopRunner::release(PostRollMode postRoll) {
    const auto play = inForce(play_);
    if (!running_ || slot_ == nullptr || !play) {
        return;
    }
    if (!slot_->isLooping()) {
        // The loop is still starting (its range or sound to come): it reads the slot's post-roll
        // once it runs, and is released then.
        events_.log("ループ解除予約（開始待ち）: postRoll=" + modeName(postRoll));
        return;
    }
    PlaybackSlot& slot = *slot_;
    const auto item = slot.player()->current();
    if (!item) {
        platform::Console::log("loop release: the looping slot has no item");
        return;
    }
    // The seam: the end of the range the looper plays (clamped to the item as the looper
    // clamps it), else the out point, the item's length or the published length.
    std::optional<platform::media::TimeRange> range;
    if (const auto asked = slot.loopRange()) {
        range = platform::media::loopRangeWithin(*asked, item->duration());
    }
    double seam = now_.duration.get();
    if (range && std::isfinite(range->end())) {
        seam = range->end();
    } else if (boundary_) {
        seam = *boundary_;
    } else if (std::isfinite(item->duration())) {
        seam = item->duration();
    }
    if (std::isfinite(seam) && seam > kNoUsableSeam && item->currentTime() >= seam - 1e-6 &&
        slot.player()->rateValue() > 0.0f) {
        // The clock has reached a seam the run loop has not handled yet: the pass standing at
        // its end is over and the next one runs. The release waits for the seam to be handled,
        // so that it ends the pass that runs, not the one that is over.
        auto retry = std::make_shared<platform::TimerHandle>(loop_.after(
            kSeamNotHandledYet, stepOf(*play, [this, postRoll] { release(postRoll); })));
        boundaryObserver_ = platform::Subscription([retry] { retry->cancel(); });
        return;
    }
    if (!std::isfinite(seam) || seam <= kNoUsableSeam) {
        events_.log("ループ解除（境目不明のため即時切替）: postRoll=" + modeName(postRoll));
        slot.clipPlayer().endLoop();
        running_ = false;
        postRollDue(postRoll);
        return;
    }

    // Both sides end with the pass playing now, at the seam, whatever the main thread does.
    slot.clipPlayer().endLoop();
    const double rangeStart = range ? range->start : inPointOnAir();
    const double now = slot.player()->currentTime();
    // A post-roll that starts another clip asks for it ahead, to have it ready at the seam.
    const bool lead = PostRollPolicy::startsAnotherClip(postRoll);
    const double at = lead ? seam - kReleaseLead : seam;
    if (lead && (now >= at || at < rangeStart)) {
        // Too late to ask ahead: the clip that follows is asked for now, and the pass on air
        // plays on to the seam meanwhile.
        events_.log("ループ解除（境目直前のため即時切替）: postRoll=" + modeName(postRoll));
        running_ = false;
        postRollDue(postRoll);
        return;
    }
    events_.log("ループ解除予約: 境目(" + fixed2(seam) + "s)" + (lead ? "の0.1秒前で" : "で") +
                " postRoll=" + modeName(postRoll) + " へ切り替え");
    boundaryObserver_ = slot.player()->addBoundaryTimeObserver(
        {at}, stepOf(*play, [this, postRoll] { boundaryFired(postRoll); }));
    // The last pass's end, should the boundary not be crossed (a pass shorter than a frame, a
    // seek past it).
    endObserver_ =
        item->onDidPlayToEnd(stepOf(*play, [this, postRoll] { boundaryFired(postRoll); }));
}

void LoopRunner::boundaryFired(PostRollMode postRoll) {
    if (!running_) {
        return;
    }
    boundaryObserver_.reset();
    endObserver_.reset();
    events_.log("ループ解除完了（先回り切替）、postRoll=" + modeName(postRoll) + " を適用");
    running_ = false;
    postRollDue(postRoll);
}

void LoopRunner::postRollDue(PostRollMode postRoll) {
    events_.postRollDue(postRoll);
}

double LoopRunner::inPointOnAir() const {
    const auto play = play_.lock();
    if (!play) {
        return 0.0;
    }
    const auto data = parts_.policy.slotData(play->ref.bank, play->ref.slot);
    if (!data || !data->inPoint || !std::isfinite(*data->inPoint)) {
        return 0.0;
    }
    return *data->inPoint;
}

}  // namespace kestio
