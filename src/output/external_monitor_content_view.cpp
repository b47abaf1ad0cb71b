#include "output/external_monitor_content_view.h"

#include <QColor>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/graphics/layer.h"
#include "platform/media/player_layer.h"
#include "platform/runloop/console.h"

namespace kestio::output {

using platform::Layer;
using platform::LayerProperty;
using platform::RectF;
using platform::SizeF;

namespace {

// A float in its shortest decimal form with at least one fraction digit ("1.0", "0.25").
std::string floatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".en") == std::string::npos) {
        text += ".0";
    }
    return text;
}

const char* slotName(bool a) {
    return a ? "A" : "B";
}

RectF scaled(const RectF& r, double sx, double sy) {
    return {r.x * sx, r.y * sy, r.width * sx, r.height * sy};
}

}  // namespace

ExternalMonitorContentView::ExternalMonitorContentView(
    platform::RunLoop& loop, OutputSurface& playerView, SizeF canvasSize,
    std::shared_ptr<const platform::WallClock> wallClock)
    : loop_(loop),
      playerView_(playerView),
      canvasSize_(canvasSize),
      wallClock_(wallClock ? std::move(wallClock)
                           : std::make_shared<const platform::SystemWallClock>()),
      root_(Layer::create(loop)),
      canvas_(Layer::create(loop)) {
    // The root's black is the canvas's too: a fill of its own would only draw the same black
    // again, and would keep the mirror's drawing from matching the surface's.
    root_->setBackgroundColor(QColor(Qt::black));
    canvas_->setMasksToBounds(true);
    root_->addSublayer(canvas_);
    buildMirror(a_, playerView.slotA(), 1.0);
    buildMirror(b_, playerView.slotB(), 2.0);

    syncAll();
    observe(a_);
    observe(b_);
    surfaceBounds_ =
        playerView_.rootLayer()->observe(LayerProperty::Frame, [this] { updateMirrorFrames(); });

    // The surface calls these on the main thread once it has set the opacities of the
    // transition's start, which the observations have already copied; the mirror then starts
    // its own transition in the same turn, so no published picture shows the two apart.
    std::weak_ptr<ExternalMonitorContentView*> weak = self_;
    playerView_.onCutStarted = [weak](bool incomingIsA) {
        if (auto self = weak.lock()) {
            (*self)->performCut(incomingIsA);
        }
    };
    playerView_.onHeldChanged = [weak] {
        if (auto self = weak.lock()) {
            (*self)->followHeld();
        }
    };
    playerView_.onDissolveStarted = [weak](bool incomingIsA, float outgoingOpacity, double duration,
                                           platform::HostTime beginTime) {
        if (auto self = weak.lock()) {
            (*self)->startDissolve(incomingIsA, outgoingOpacity, duration, beginTime);
        }
    };
}

ExternalMonitorContentView::~ExternalMonitorContentView() {
    finish_.cancel();
    surfaceBounds_.reset();
    a_.observations.clear();
    b_.observations.clear();
}

void ExternalMonitorContentView::buildMirror(Mirror& m, PlaybackSlot& source, double z) {
    m.source = &source;
    m.unit = Layer::create(loop_);
    m.video = Layer::create(loop_);
    m.still = Layer::create(loop_);
    m.unit->setZPosition(z);
    // The same picture source as the slot's video layer: the player's pictures, decoded once.
    m.video->setFrameSource(source.playerLayerSource());
    m.still->setContentsGravity(platform::Gravity::ResizeAspect);
    m.still->setOpacity(0.0f);
    m.unit->addSublayer(m.video);
    m.unit->addSublayer(m.still);
    canvas_->addSublayer(m.unit);
}

void ExternalMonitorContentView::observe(Mirror& m) {
    const Layer& video = *m.source->videoLayer();
    auto& obs = m.observations;
    for (const auto property : {LayerProperty::Opacity, LayerProperty::Animations}) {
        obs.push_back(
            m.source->containerLayer()->observe(property, [this, &m] { followOpacity(m); }));
    }
    for (const auto property : {LayerProperty::Contents, LayerProperty::ContentsFilter}) {
        obs.push_back(
            m.source->containerLayer()->observe(property, [this, &m] { followContents(m); }));
    }
    obs.push_back(m.source->videoLayer()->observe(
        LayerProperty::Hidden, [&m, &video] { m.video->setHidden(video.isHidden()); }));
    for (const auto& layer : {m.source->containerLayer(), m.source->videoLayer()}) {
        obs.push_back(layer->observe(LayerProperty::Frame, [this] { updateMirrorFrames(); }));
    }
    obs.push_back(m.source->videoLayer()->observe(LayerProperty::VideoGravity,
                                                  [this] { updateMirrorFrames(); }));
}

void ExternalMonitorContentView::followOpacity(Mirror& m) {
    // The slot's level and every fade it runs, with the times they run from: the unit shows
    // the level the slot shows at every instant, whatever transitions cross.
    const Layer& container = *m.source->containerLayer();
    m.unit->removeAllAnimations();
    m.unit->setOpacity(container.opacity());
    for (const std::string& key : container.animationKeys()) {
        if (const auto fade = container.animation(key)) {
            m.unit->addAnimation(key, *fade);
        }
    }
}

void ExternalMonitorContentView::followContents(Mirror& m) {
    const Layer& container = *m.source->containerLayer();
    m.still->setContentsGravity(container.contentsGravity());
    // The same still through the same filter: corrected once for both views.
    m.still->setContentsFilter(container.contentsFilter());
    m.still->setContents(container.contents());
    m.still->setOpacity(container.contents().isNull() ? 0.0f : 1.0f);
}

void ExternalMonitorContentView::followHeld() {
    const auto& source = playerView_.heldLayer();
    if (!source) {
        if (held_) {
            held_->removeAllAnimations();
            held_->removeFromSuperlayer();
            held_.reset();
        }
        return;
    }
    if (!held_) {
        held_ = Layer::create(loop_);
        held_->setZPosition(source->zPosition());
        held_->setContentsGravity(platform::Gravity::Resize);
        held_->setFrame(canvas_->bounds());
        canvas_->addSublayer(held_);
    }
    held_->removeAllAnimations();
    held_->setContents(source->contents());
    held_->setOpacity(source->opacity());
    for (const std::string& key : source->animationKeys()) {
        if (const auto fade = source->animation(key)) {
            held_->addAnimation(key, *fade);
        }
    }
}

void ExternalMonitorContentView::syncAll() {
    for (Mirror* m : {&a_, &b_}) {
        followOpacity(*m);
        m->video->setHidden(m->source->videoLayer()->isHidden());
        followContents(*m);
    }
    updateMirrorFrames();
}

void ExternalMonitorContentView::updateMirrorFrames() {
    const SizeF monitor = playerView_.monitorSize();
    const SizeF canvas = canvas_->bounds().size();
    const SizeF view = playerView_.rootLayer()->bounds().size();
    if (monitor.isEmpty() || canvas.isEmpty() || view.isEmpty()) {
        return;
    }
    // Surface points to canvas pixels (the surface's monitor size) to the canvas layer.
    const double sx = (monitor.width / view.width) * (canvas.width / monitor.width);
    const double sy = (monitor.height / view.height) * (canvas.height / monitor.height);
    if (held_) {
        held_->setFrame(canvas_->bounds());
    }
    for (Mirror* m : {&a_, &b_}) {
        const RectF unit = scaled(m->source->containerLayer()->frame(), sx, sy);
        const RectF video = scaled(m->source->videoLayer()->frame(), sx, sy);
        if (!unit.isFinite() || !video.isFinite()) {
            continue;
        }
        m->unit->setFrame(unit);
        m->video->setFrame(video);
        m->video->setVideoGravity(m->source->videoLayer()->videoGravity());
        m->still->setFrame(m->unit->bounds());
    }
}

void ExternalMonitorContentView::layout(SizeF size) {
    root_->setFrame({0.0, 0.0, size.width, size.height});
    layoutCanvas();
}

void ExternalMonitorContentView::layoutCanvas() {
    const SizeF view = root_->bounds().size();
    if (view.isEmpty() || canvasSize_.isEmpty() || !std::isfinite(canvasSize_.width) ||
        !std::isfinite(canvasSize_.height)) {
        return;
    }
    SizeF fitted = canvasSize_;
    if (canvasSize_.width > view.width || canvasSize_.height > view.height) {
        const double s = std::min(view.width / canvasSize_.width, view.height / canvasSize_.height);
        fitted = {canvasSize_.width * s, canvasSize_.height * s};
    }
    canvas_->setFrame({(view.width - fitted.width) * 0.5, (view.height - fitted.height) * 0.5,
                       fitted.width, fitted.height});
    updateMirrorFrames();
}

void ExternalMonitorContentView::performCut(bool toA) {
    log(std::string("CUT \u2192 incoming=") + slotName(toA));
    finish_.cancel();
    isDissolving_ = false;
    followAll();
    log("CUT done  " + opacitiesText());
}

void ExternalMonitorContentView::startDissolve(bool toA, float /*fromOpacity*/, double duration,
                                               platform::HostTime beginTime) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", duration);
    log(std::string("DISSOLVE start duration=") + text + "s incoming=" + slotName(toA));
    // The fades are the surface's own, followed as they were added; only the end is marked here.
    followAll();
    isDissolving_ = true;
    const double fadeSeconds = std::isfinite(duration) && duration > 0.0 ? duration : 0.0;
    const double untilBegin = std::max(0.0, beginTime - loop_.now());
    std::weak_ptr<ExternalMonitorContentView*> weak = self_;
    finish_ = loop_.after(untilBegin + fadeSeconds + kFinishDelay, [weak] {
        if (auto self = weak.lock()) {
            (*self)->finishDissolve();
        }
    });
}

void ExternalMonitorContentView::finishDissolve() {
    isDissolving_ = false;
    log("DISSOLVE done  " + opacitiesText());
}

void ExternalMonitorContentView::followAll() {
    followOpacity(a_);
    followOpacity(b_);
    followHeld();
}

std::string ExternalMonitorContentView::opacitiesText() const {
    return "mirrorA=" + floatText(a_.unit->opacity()) + " mirrorB=" + floatText(b_.unit->opacity());
}

void ExternalMonitorContentView::log(const std::string& message) {
    const std::string line =
        "[" + platform::formatTimeOfDay(wallClock_->now()) + "] [EXT] " + message;
    platform::Console::log(line);
    std::weak_ptr<ExternalMonitorContentView*> weak = self_;
    loop_.post([weak, line] {
        if (auto self = weak.lock(); self && (*self)->onLog) {
            (*self)->onLog(line);
        }
    });
}

}  // namespace kestio::output
