#include "output/output_surface.h"

#include <QColor>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "platform/audio/audio_output_device.h"
#include "platform/audio/audio_player_node.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/transaction.h"
#include "platform/runloop/console.h"

namespace kestio::output {

namespace {

using platform::Console;
using platform::Layer;
using platform::RectF;

// The outgoing sound of a dissolve that begins later fades over this long from its begin time;
// the chain is stopped once the fade is over.
constexpr double kSoundFadeSeconds = 0.005;
constexpr double kSoundStopMargin = 0.02;

// The shortest decimal form that reads back as the same value, with at least one fraction digit
// ("1.0", "0.5").
template <class T>
std::string decimal(T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".eEin") == std::string::npos) {
        text += ".0";
    }
    return text;
}

// The held picture lies between the two slots.
constexpr double kHeldZ = 1.5;
constexpr platform::SizeF kHeldMaxSize{1920.0, 1080.0};

// `layers` (snapshots of sublayers of `root`) as they show at `time` over nothing (no
// background), in `root`'s bounds drawn at `size`: a picture with their coverage as its alpha,
// which shows over what lies beneath them exactly as they do.
QImage composedAlone(platform::Compositor& compositor, const Layer& root,
                     std::vector<std::shared_ptr<const platform::LayerSnapshot>> layers,
                     platform::HostTime time, QSize size) {
    auto alone = std::make_shared<platform::LayerSnapshot>(*root.snapshot());
    alone->background.reset();
    std::stable_sort(layers.begin(), layers.end(),
                     [](const auto& a, const auto& b) { return a->zPosition < b->zPosition; });
    alone->sublayers = std::move(layers);
    QImage image;
    compositor.render(*alone, time, size, image);
    return image;
}

// Places `slot`'s video layer over the whole of its container.
void fillContainer(PlaybackSlot& slot) {
    const RectF bounds = slot.containerLayer()->bounds();
    slot.videoLayer()->setFrame({0.0, 0.0, bounds.width, bounds.height});
}

}  // namespace

OutputSurface::OutputSurface(Services services)
    : loop_(services.loop),
      wallClock_(services.wallClock ? services.wallClock
                                    : std::make_shared<platform::SystemWallClock>()),
      media_(services.media),
      engine_(services.audioDevice),
      compositor_(services.loop, services.pool ? *services.pool : platform::WorkerPool::shared()),
      root_(Layer::create(services.loop)),
      heldCompositor_(services.pool ? *services.pool : platform::WorkerPool::shared()) {
    audioA_ = std::make_unique<AudioEngineController>(loop_, engine_, "A");
    audioB_ = std::make_unique<AudioEngineController>(loop_, engine_, "B");
    const SlotServices slotServices{loop_, services.media, compositor_,
                                    services.clipPlayers
                                        ? services.clipPlayers
                                        : PlaybackSlot::pairedClipPlayers(loop_, engine_)};
    slotA_ = std::make_unique<PlaybackSlot>(slotServices, *audioA_);
    slotB_ = std::make_unique<PlaybackSlot>(slotServices, *audioB_);

    // The tree: black, clipped, slot B's picture always above slot A's; the slots' opacities
    // decide what is seen.
    root_->setBackgroundColor(QColor(0, 0, 0, 255));
    root_->setMasksToBounds(true);
    slotA_->containerLayer()->setZPosition(1.0);
    slotB_->containerLayer()->setZPosition(2.0);
    root_->addSublayer(slotA_->containerLayer());
    root_->addSublayer(slotB_->containerLayer());

    if (auto error = engine_.start()) {
        Console::log("AudioEngine error: " + *error);
    }
}

OutputSurface::~OutputSurface() {
    self_.reset();
    fadeInCleanup_.cancel();
    outgoingSoundStop_.cancel();
    // The slots go before the chains they play into.
    slotB_.reset();
    slotA_.reset();
}

void OutputSurface::setMonitorSize(platform::SizeF size) {
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || size.isEmpty()) {
        Console::log("monitorSize refused: " + decimal(size.width) + "x" + decimal(size.height));
        return;
    }
    monitorSize_ = size;
}

void OutputSurface::layout() {
    if (held_) {
        held_->setFrame(root_->bounds());
    }
    for (PlaybackSlot* slot : {slotA_.get(), slotB_.get()}) {
        const auto& applied = appliedFor(*slot);
        if (applied && applied->clearCount == slot->clearCount()) {
            placeSlot(*slot, applied);
        } else {
            placeSlot(*slot, std::nullopt);
        }
    }
}

void OutputSurface::setViewSize(platform::SizeF size) {
    if (!std::isfinite(size.width) || !std::isfinite(size.height)) {
        return;
    }
    root_->setFrame({0.0, 0.0, size.width, size.height});
    layout();
}

void OutputSurface::reconfigureAudioEngine(std::uint32_t channelCount, double sampleRate) {
    // A rate from a hand-edited document may be anything; the chains take a plain one.
    const double rate =
        std::isfinite(sampleRate) && sampleRate > 0.0 && sampleRate <= kMaxSampleRate
            ? sampleRate
            : kFallbackSampleRate;
    const std::uint32_t device = engine_.outputFormat().channelCount;
    const std::uint32_t wanted = std::min(channelCount, std::max<std::uint32_t>(2, device));
    const std::uint32_t channels = std::max<std::uint32_t>(2, wanted);
    const bool effects = wanted < 3;

    // The chain of the slot on air keeps its wiring while it plays: its sound must go on as it
    // is (no gap, no change of pitch or equaliser). It gets the new wiring when it next loads.
    std::vector<AudioEngineController*> chains;
    for (PlaybackSlot* slot : {slotA_.get(), slotB_.get()}) {
        const bool onAir = slot == &showingSlot();
        if (onAir && slot->audio().playerNode()->isPlaying()) {
            continue;
        }
        chains.push_back(&slot->audio());
    }
    const bool inForce = std::all_of(chains.begin(), chains.end(), [&](AudioEngineController* c) {
        return c->currentFormat().channelCount == channels &&
               c->currentFormat().sampleRate == rate && c->usesEffects() == effects;
    });
    if (inForce) {
        return;
    }
    Console::log("AudioEngine 再設定: → " + std::to_string(channels) + "ch @" +
                 std::to_string(static_cast<std::int64_t>(rate)) +
                 "Hz (デバイス上限: " + std::to_string(device) + "ch)");
    const auto format = platform::audio::AudioFormat::make(rate, channels);
    if (!format) {
        Console::log(effects ? "AudioEngine 再設定失敗: 2ch フォーマット作成不可"
                             : "AudioEngine 再設定失敗: レイアウト作成不可");
        return;
    }
    // The engine keeps running: each chain's new wiring reaches the render thread as one step.
    for (AudioEngineController* chain : chains) {
        chain->connectGraph(*format, effects);
    }
}

void OutputSurface::applyGeometry(const GeometrySettings& geometry, PlaybackSlot& slot,
                                  double contentWidth, double contentHeight) {
    AppliedGeometry applied{geometry, contentWidth, contentHeight, slot.clearCount()};
    const std::optional<AppliedGeometry> candidate = applied;
    if (!placeSlot(slot, candidate)) {
        return;
    }
    appliedFor(slot) = applied;
}

bool OutputSurface::placeSlot(PlaybackSlot& slot, const std::optional<AppliedGeometry>& applied) {
    const RectF view = root_->bounds();
    if (!applied) {
        slot.containerLayer()->setFrame(view);
        fillContainer(slot);
        return true;
    }
    const GeometrySettings& g = applied->geometry;
    const double mw = monitorSize_.width;
    const double mh = monitorSize_.height;
    RectF canvas;
    platform::Gravity gravity = platform::Gravity::Resize;
    switch (g.mode) {
        case GeometryMode::fitToWindow:
            canvas = {0.0, 0.0, mw, mh};
            gravity = platform::Gravity::ResizeAspect;
            break;
        case GeometryMode::custom: {
            const double w = mw * g.scaleX / 100.0;
            const double h = mh * g.scaleY / 100.0;
            // A scale of zero or below (typed by the operator, stored as typed) shows nothing:
            // an empty frame at the position, so the picture is neither drawn shifted nor
            // refused.
            if (w <= 0.0 || h <= 0.0) {
                canvas = {g.posX, g.posY, 0.0, 0.0};
            } else {
                canvas = {g.posX - w * 0.5, g.posY - h * 0.5, w, h};
            }
            break;
        }
        case GeometryMode::originalSize: {
            const double w = applied->contentWidth;
            const double h = applied->contentHeight;
            canvas = {g.posX - w * 0.5, g.posY - h * 0.5, w, h};
            break;
        }
    }
    const double sx = view.width / mw;
    const double sy = view.height / mh;
    const RectF frame{canvas.x * sx, canvas.y * sy, std::abs(canvas.width) * sx,
                      std::abs(canvas.height) * sy};
    if (!frame.isFinite()) {
        layerLog("geometry refused: not a finite rectangle");
        return false;
    }
    slot.containerLayer()->setFrame(frame);
    fillContainer(slot);
    slot.videoLayer()->setVideoGravity(gravity);
    return true;
}

std::optional<OutputSurface::AppliedGeometry>& OutputSurface::appliedFor(PlaybackSlot& slot) {
    return &slot == slotA_.get() ? appliedA_ : appliedB_;
}

void OutputSurface::cancelTransitions() {
    ++dissolveGeneration_;
    fadeInCleanup_.cancel();
    dropHeld();
    for (PlaybackSlot* slot : {slotA_.get(), slotB_.get()}) {
        slot->containerLayer()->removeAnimation(PlaybackSlot::kFadeIn);
        slot->containerLayer()->removeAnimation(PlaybackSlot::kFadeOut);
    }
}

void OutputSurface::cue(Cue cue) {
    background_ = std::move(cue);
    publishOnAirOrOnItsWay();
}

void OutputSurface::setCueState(CueState state) {
    if (background_) {
        background_->state = state;
    }
    publishOnAirOrOnItsWay();
}

bool OutputSurface::holdsCue(SlotRef ref, const std::filesystem::path& url) const {
    return background_ && background_->state != CueState::warming && background_->ref == ref &&
           background_->url == url;
}

void OutputSurface::forgetCue() {
    background_.reset();
    publishOnAirOrOnItsWay();
}

void OutputSurface::publishOnAirOrOnItsWay() {
    std::optional<SlotRef> ref;
    if (background_ && background_->state == CueState::hiddenPlaying) {
        ref = background_->ref;
    } else if (foreground_) {
        ref = foreground_->ref;
    }
    if (ref != onAirOrOnItsWay_.get()) {
        onAirOrOnItsWay_.set(ref);
    }
}

std::optional<AudioSettings> OutputSurface::backgroundLevel() const {
    if (!background_ || background_->state == CueState::warming) {
        return std::nullopt;
    }
    return background_->audio;
}

void OutputSurface::promoteCue() {
    if (background_) {
        foreground_ = OnAir{background_->ref, background_->url};
    } else {
        foreground_.reset();
    }
    background_.reset();
    publishOnAirOrOnItsWay();
    takes.set(takes.get() + 1);
}

void OutputSurface::take(const Take& how, std::optional<platform::ClockTime> atClockTime) {
    PlaybackSlot& incoming = hiddenSlot();
    if (how.dissolve) {
        dissolve(incoming, how.duration, atClockTime);
    } else {
        cut(incoming);
    }
}

void OutputSurface::cut(PlaybackSlot& to) {
    // A dissolve under way ends here: none of its steps may later hide or clear the slot cut to.
    cancelTransitions();
    promoteCue();
    const bool wasA = showingA_;
    showingA_ = !wasA;
    PlaybackSlot& outgoing = wasA ? *slotA_ : *slotB_;
    logLayerState("cut直前");
    if (!isWarming_) {
        to.containerLayer()->setOpacity(1.0f);
    }
    outgoing.containerLayer()->setOpacity(0.0f);
    if (onCutStarted) {
        onCutStarted(showingA_);
    }
    outgoing.clear();
    logLayerState("cut完了");
}

void OutputSurface::dissolve(PlaybackSlot& to, double duration,
                             std::optional<platform::ClockTime> atClockTime) {
    promoteCue();
    const bool wasA = showingA_;
    showingA_ = !wasA;
    PlaybackSlot& incoming = to;
    PlaybackSlot& outgoing = wasA ? *slotA_ : *slotB_;
    logLayerState("dissolve開始");
    const auto generation = ++dissolveGeneration_;
    fadeInCleanup_.cancel();

    // A picture held from the take before is part of the outgoing mix. Where the incoming slot
    // lies beneath it, the slot on air and the held picture become one held picture, which
    // fades out over the incoming slot from the level it shows now.
    const bool fadeHeld = held_ && incoming.containerLayer()->zPosition() < kHeldZ;
    if (fadeHeld) {
        holdPicture(outgoing);
        outgoing.containerLayer()->setOpacity(0.0f);
    }

    // The opacities on screen now: a dissolve begun during another goes on from there.
    const float inOpacity = incoming.containerLayer()->presentationOpacity();
    const float outOpacity = outgoing.containerLayer()->presentationOpacity();
    for (PlaybackSlot* slot : {&incoming, &outgoing}) {
        slot->containerLayer()->removeAnimation(PlaybackSlot::kFadeIn);
        slot->containerLayer()->removeAnimation(PlaybackSlot::kFadeOut);
    }

    // Zero, negative or not finite: the end at once.
    const double d = std::isfinite(duration) && duration > 0.0 ? duration : 0.0;
    const platform::HostTime now = loop_.now();
    platform::HostTime begin = now;
    if (atClockTime && atClockTime->isFinite()) {
        begin = engine_.clock()->hostTimeAt(*atClockTime);
    }
    auto animation = [&](float from, float target) {
        platform::OpacityAnimation fade = makeOpacityAnimation(from, target, d);
        fade.beginTime = begin;
        return fade;
    };

    std::weak_ptr<OutputSurface*> weak = self_;
    const bool incomingIsA = showingA_;
    if (!incomingIsA) {
        // Slot B, the upper layer, fades in over A; A is hidden and cleared just after the end.
        platform::Transaction transaction(loop_);
        // The layer keeps the completion until its fade ends: holding the layer weakly keeps
        // the two from owning each other when the surface goes mid-fade.
        std::weak_ptr<platform::Layer> fading = incoming.containerLayer();
        transaction.setCompletion([weak, generation, fading] {
            const auto self = weak.lock();
            const auto layer = fading.lock();
            if (!self || !layer || (*self)->dissolveGeneration_ != generation) {
                return;
            }
            layer->setOpacity(1.0f);
            layer->removeAnimation(PlaybackSlot::kFadeIn);
        });
        transaction.addAnimation(*incoming.containerLayer(), PlaybackSlot::kFadeIn,
                                 animation(inOpacity, 1.0f));
        transaction.commit();
        const double delay = std::max(0.0, begin - now) + d + kFadeInCleanupDelay;
        fadeInCleanup_ = loop_.after(delay, [weak, generation, &outgoing] {
            const auto self = weak.lock();
            if (!self || (*self)->dissolveGeneration_ != generation) {
                return;
            }
            outgoing.containerLayer()->setOpacity(0.0f);
            outgoing.clear();
            (*self)->dropHeld();
        });
    } else {
        // Slot A, the lower layer, is there at once; B fades out above it and is cleared at the
        // end of its fade.
        incoming.containerLayer()->setOpacity(1.0f);
        platform::Transaction transaction(loop_);
        transaction.setCompletion([weak, generation, &outgoing] {
            const auto self = weak.lock();
            if (!self || (*self)->dissolveGeneration_ != generation) {
                return;
            }
            outgoing.containerLayer()->setOpacity(0.0f);
            outgoing.containerLayer()->removeAnimation(PlaybackSlot::kFadeOut);
            outgoing.clear();
            (*self)->dropHeld();
        });
        if (fadeHeld) {
            transaction.addAnimation(*held_, PlaybackSlot::kFadeOut, animation(1.0f, 0.0f));
        } else {
            transaction.addAnimation(*outgoing.containerLayer(), PlaybackSlot::kFadeOut,
                                     animation(outOpacity, 0.0f));
        }
        transaction.commit();
        if (fadeHeld) {
            heldChanged();
        }
    }

    stopOutgoingSound(outgoing, atClockTime);
    if (onDissolveStarted) {
        onDissolveStarted(incomingIsA, fadeHeld ? 0.0f : outOpacity, d, begin);
    }
}

void OutputSurface::stopOutgoingSound(PlaybackSlot& outgoing,
                                      std::optional<platform::ClockTime> atClockTime) {
    outgoingSoundStop_.cancel();
    const auto clock = engine_.clock();
    const platform::HostTime now = loop_.now();
    if (!atClockTime || !atClockTime->isFinite() || clock->hostTimeAt(*atClockTime) <= now) {
        // The node's stop fades the next few milliseconds out.
        outgoing.audio().stop();
        return;
    }
    // The outgoing sound ends when the fades begin, not when the dissolve is asked for.
    const auto& node = outgoing.audio().playerNode();
    const float volume = node->volume();
    node->rampVolume(0.0f, kSoundFadeSeconds, *atClockTime);
    const double delay =
        (clock->hostTimeAt(*atClockTime) - now) + kSoundFadeSeconds + kSoundStopMargin;
    std::weak_ptr<OutputSurface*> weak = self_;
    const auto clears = outgoing.clearCount();
    outgoingSoundStop_ = loop_.after(delay, [weak, &outgoing, volume, clears] {
        if (!weak.lock()) {
            return;
        }
        if (outgoing.clearCount() == clears) {
            outgoing.audio().stop();
        }
        // The slot's level again, unless a newer one was set meanwhile.
        const auto& player = outgoing.audio().playerNode();
        if (player->volume() == 0.0f) {
            player->setVolume(volume);
        }
    });
}

void OutputSurface::prepareForPlay(bool preloaded) {
    releaseHiddenSlot();
    if (!preloaded) {
        hiddenSlot().clear();
        background_.reset();
        publishOnAirOrOnItsWay();
    }
}

void OutputSurface::releaseHiddenSlot() {
    ++dissolveGeneration_;
    fadeInCleanup_.cancel();
    PlaybackSlot& hidden = hiddenSlot();
    if (hidden.containerLayer()->presentationOpacity() > 0.0f) {
        holdPicture(hidden);
    }
    // A fade of the slot on air runs on; its end value is the slot's level from now on.
    showingSlot().containerLayer()->setOpacity(1.0f);
    hidden.containerLayer()->removeAllAnimations();
    hidden.containerLayer()->setOpacity(0.0f);
}

void OutputSurface::holdPicture(PlaybackSlot& slot) {
    const RectF bounds = root_->bounds();
    // A picture on its way out: composed on this thread at no more than full HD, which keeps
    // the composition short whatever the output's size.
    const double scale = std::min({1.0, kHeldMaxSize.width / std::max(bounds.width, 1.0),
                                   kHeldMaxSize.height / std::max(bounds.height, 1.0)});
    const QSize size(std::max(1, int(std::ceil(bounds.width * scale))),
                     std::max(1, int(std::ceil(bounds.height * scale))));
    const platform::HostTime now = loop_.now();
    const Layer& container = *slot.containerLayer();
    if (!held_) {
        // The slot's picture alone at full level; its level and its fade go on in the held layer.
        auto full = std::make_shared<platform::LayerSnapshot>(*container.snapshot());
        full->opacity = 1.0f;
        full->animation.reset();
        QImage image = composedAlone(heldCompositor_, *root_, {full}, now, size);
        held_ = Layer::create(loop_);
        held_->setZPosition(kHeldZ);
        held_->setFrame(bounds);
        held_->setContents(std::move(image));
        held_->setOpacity(container.opacity());
        for (const char* key : {PlaybackSlot::kFadeIn, PlaybackSlot::kFadeOut}) {
            if (const auto fade = container.animation(key)) {
                held_->addAnimation(key, *fade);
            }
        }
        root_->addSublayer(held_);
        heldChanged();
        return;
    }
    // The slot and the held picture lie next to each other in z order, with the slot on air
    // wholly above or wholly beneath both: as one picture they show the same.
    QImage image = composedAlone(heldCompositor_, *root_, {container.snapshot(), held_->snapshot()},
                                 now, size);
    held_->removeAllAnimations();
    held_->setContents(std::move(image));
    held_->setOpacity(1.0f);
    heldChanged();
}

void OutputSurface::dropHeld() {
    if (!held_) {
        return;
    }
    held_->removeAllAnimations();
    held_->removeFromSuperlayer();
    held_.reset();
    heldChanged();
}

void OutputSurface::heldChanged() {
    if (onHeldChanged) {
        onHeldChanged();
    }
}

OutputSurface::LoadedCue OutputSurface::loadCue(Cue next, std::optional<double> outPoint,
                                                const ColorSettings& colors) {
    releaseHiddenSlot();
    PlaybackSlot& hidden = hiddenSlot();
    hidden.load(next.url, next.inPoint, outPoint, colors);
    next.item = hidden.player()->current();
    cue(std::move(next));
    return LoadedCue{hidden, hidden.player()->currentItem().get()};
}

void OutputSurface::applyEqualizerOnAir(const EqualizerSettings& equalizer) {
    showingSlot().audio().applyEqualizer(equalizer);
}

bool OutputSurface::isOnAirStopped() const {
    const PlaybackSlot& onAir = showingA_ ? *slotA_ : *slotB_;
    return onAir.player()->rateValue() == 0.0f;
}

void OutputSurface::hideSlots() {
    dropHeld();
    slotA_->containerLayer()->setOpacity(0.0f);
    slotB_->containerLayer()->setOpacity(0.0f);
}

void OutputSurface::cutToStill(const QImage& picture) {
    PlaybackSlot& hidden = hiddenSlot();
    hidden.showStill(picture, ColorSettings{});
    cut(hidden);
}

void OutputSurface::stopAll() {
    ++dissolveGeneration_;
    fadeInCleanup_.cancel();
    dropHeld();
    for (PlaybackSlot* slot : {slotA_.get(), slotB_.get()}) {
        slot->containerLayer()->removeAllAnimations();
        slot->clear();
    }
    foreground_.reset();
    background_.reset();
    publishOnAirOrOnItsWay();
    showingA_ = true;
    layerLog("stopAll");
}

platform::OpacityAnimation OutputSurface::makeOpacityAnimation(float from, float to,
                                                               double duration) {
    platform::OpacityAnimation animation;
    animation.from = from;
    animation.to = to;
    animation.duration = duration;
    animation.timing = platform::TimingFunction::easeInEaseOut();
    return animation;
}

void OutputSurface::layerLog(const std::string& message) {
    std::string line = "[" + platform::formatTimeOfDay(wallClock_->now()) + "] [LAYER] " + message;
    Console::log(line);
    std::weak_ptr<OutputSurface*> weak = self_;
    loop_.post([weak, line = std::move(line)] {
        if (const auto self = weak.lock(); self && (*self)->onLayerLog) {
            (*self)->onLayerLog(line);
        }
    });
}

void OutputSurface::logLayerState(const std::string& label) {
    layerLog("--- " + label + " ---");
    layerLog("  slotA z=" + decimal(slotA_->containerLayer()->zPosition()) +
             " op=" + decimal(slotA_->containerLayer()->opacity()));
    layerLog("  slotB z=" + decimal(slotB_->containerLayer()->zPosition()) +
             " op=" + decimal(slotB_->containerLayer()->opacity()));
    layerLog(std::string("  showingA=") + (showingA_ ? "true" : "false"));
}

}  // namespace kestio::output
