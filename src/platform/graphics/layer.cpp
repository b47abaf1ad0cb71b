#include "platform/graphics/layer.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/layer_snapshot.h"
#include "platform/runloop/released_on_loop.h"

namespace kestio::platform {

std::shared_ptr<Layer> Layer::create(RunLoop& loop) {
    return std::make_shared<Layer>(Token{}, loop);
}

Layer::Layer(Token, RunLoop& loop) : loop_(loop) {}

Layer::~Layer() {
    changed_ = true;  // nobody is told of changes any more
    removeAllAnimations();
    for (auto& sublayer : sublayers_) {
        sublayer->superlayer_.reset();
    }
}

void Layer::changed() {
    for (Layer* node = this;;) {
        if (node->changed_) {
            return;  // its ancestors are marked and the root's observers told already
        }
        node->changed_ = true;
        auto parent = node->superlayer_.lock();
        if (!parent) {
            node->treeChanges_.set(node->treeChanges_.get() + 1);
            return;
        }
        node = parent.get();
    }
}

std::shared_ptr<const LayerSnapshot> Layer::snapshot() const {
    if (!changed_ && snapshot_) {
        return snapshot_;
    }
    auto snap = std::make_shared<LayerSnapshot>();
    snap->frame = frame_.get();
    snap->zPosition = zPosition_;
    snap->hidden = hidden_.get();
    snap->opacity = opacity_.get();
    snap->background = background_;
    snap->masksToBounds = masksToBounds_;
    snap->contents = contents_.get();
    snap->contentsGravity = contentsGravity_;
    snap->contentsFilter = contentsFilter_.get();
    snap->frameSource = frameSource_;
    snap->videoGravity = videoGravity_.get();
    if (!animations_.empty()) {
        snap->animation =
            LayerSnapshot::Animation{animations_.back().animation, animations_.back().beginTime};
    }
    snap->sublayers.reserve(sublayers_.size());
    for (const auto& sub : sublayers_) {
        snap->sublayers.push_back(sub->snapshot());
    }
    std::stable_sort(snap->sublayers.begin(), snap->sublayers.end(),
                     [](const auto& a, const auto& b) { return a->zPosition < b->zPosition; });
    snapshot_ = std::move(snap);
    changed_ = false;
    return snapshot_;
}

Subscription Layer::observeTree(std::function<void()> observer) {
    return treeChanges_.subscribe([fn = std::move(observer)](std::uint64_t) { fn(); });
}

void Layer::setFrame(RectF frame) {
    frame_.set(frame);
    changed();
}

void Layer::setZPosition(double z) {
    zPosition_ = z;
    changed();
}

void Layer::setBackgroundColor(std::optional<QColor> color) {
    background_ = color;
    changed();
}

void Layer::setMasksToBounds(bool masks) {
    masksToBounds_ = masks;
    changed();
}

void Layer::setContentsGravity(Gravity gravity) {
    contentsGravity_ = gravity;
    changed();
}

void Layer::setContentsFilter(std::shared_ptr<const ContentsFilter> filter) {
    contentsFilter_.set(std::move(filter));
    changed();
}

void Layer::setFrameSource(std::shared_ptr<const FrameSource> source) {
    // Snapshots carry the source to presenter threads; whichever of them lets it go last, the
    // source itself (a player layer, which holds its player) is released on this thread.
    frameSource_ = releasedOnLoop(std::move(source), loop_);
    changed();
}

RectF Layer::bounds() const {
    const RectF f = frame_.get();
    return {0.0, 0.0, std::fabs(f.width), std::fabs(f.height)};
}

void Layer::setHidden(bool hidden) {
    hidden_.set(hidden);
    changed();
}

void Layer::setOpacity(float opacity) {
    opacity_.set(opacity);
    changed();
}

float Layer::presentationOpacity() const {
    return presentationOpacity(loop_.now());
}

float Layer::presentationOpacity(HostTime time) const {
    if (animations_.empty()) {
        return presentedOpacity(opacity_.get(), nullptr, HostTime(), time);
    }
    const Running& latest = animations_.back();
    return presentedOpacity(opacity_.get(), &latest.animation, latest.beginTime, time);
}

void Layer::setContents(QImage image) {
    contents_.set(std::move(image));
    changed();
}

void Layer::setVideoGravity(Gravity gravity) {
    videoGravity_.set(gravity);
    changed();
}

bool Layer::isAncestorOrSelf(const Layer* layer) const {
    for (auto node = shared_from_this(); node; node = node->superlayer_.lock()) {
        if (node.get() == layer) {
            return true;
        }
    }
    return false;
}

bool Layer::addSublayer(const std::shared_ptr<Layer>& layer) {
    if (!layer || isAncestorOrSelf(layer.get())) {
        return false;
    }
    auto keepAlive = layer;
    keepAlive->removeFromSuperlayer();
    keepAlive->superlayer_ = weak_from_this();
    sublayers_.push_back(std::move(keepAlive));
    changed();
    return true;
}

void Layer::removeFromSuperlayer() {
    auto parent = superlayer_.lock();
    superlayer_.reset();
    if (!parent) {
        return;
    }
    std::erase_if(parent->sublayers_, [this](const auto& l) { return l.get() == this; });
    parent->changed();
}

void Layer::addAnimation(const std::string& key, const OpacityAnimation& animation,
                         std::function<void()> completion) {
    removeAnimation(key);
    Running running;
    running.key = key;
    running.animation = animation;
    running.beginTime = animation.beginTime.value_or(loop_.now());
    running.completion = std::make_shared<Completion>(Completion{std::move(completion), false});
    std::weak_ptr<Completion> weak = running.completion;
    auto fireAtEnd = [weak] {
        auto c = weak.lock();
        if (!c || c->done) {
            return;
        }
        c->done = true;
        if (c->fn) {
            auto fn = std::move(c->fn);
            fn();
        }
    };
    // The completion runs on the loop once the end has passed; an animation already at its
    // end completes on the next turn.
    const double length = animation.runsInstantly() ? 0.0 : animation.duration;
    const double wait =
        animation.beginTime ? std::max(0.0, (running.beginTime + length) - loop_.now()) : length;
    running.endTimer = loop_.after(wait, std::move(fireAtEnd));
    animations_.push_back(std::move(running));
    changed();
    animationChanges_.set(animationChanges_.get() + 1);
}

void Layer::finishRemoved(Running& running) {
    running.endTimer.cancel();
    auto c = running.completion;
    if (c->done) {
        return;
    }
    c->done = true;
    if (c->fn) {
        loop_.post(std::move(c->fn));
    }
}

void Layer::removeAnimation(const std::string& key) {
    auto it = std::find_if(animations_.begin(), animations_.end(),
                           [&](const Running& r) { return r.key == key; });
    if (it == animations_.end()) {
        return;
    }
    Running running = std::move(*it);
    animations_.erase(it);
    changed();
    animationChanges_.set(animationChanges_.get() + 1);
    finishRemoved(running);
}

void Layer::removeAllAnimations() {
    auto removed = std::move(animations_);
    animations_.clear();
    if (!removed.empty()) {
        changed();
        animationChanges_.set(animationChanges_.get() + 1);
    }
    for (auto& running : removed) {
        finishRemoved(running);
    }
}

bool Layer::hasAnimation(const std::string& key) const {
    return std::any_of(animations_.begin(), animations_.end(),
                       [&](const Running& r) { return r.key == key; });
}

std::optional<OpacityAnimation> Layer::animation(const std::string& key) const {
    const auto it = std::find_if(animations_.begin(), animations_.end(),
                                 [&](const Running& r) { return r.key == key; });
    if (it == animations_.end()) {
        return std::nullopt;
    }
    OpacityAnimation running = it->animation;
    running.beginTime = it->beginTime;
    return running;
}

std::vector<std::string> Layer::animationKeys() const {
    std::vector<std::string> keys;
    keys.reserve(animations_.size());
    for (const auto& r : animations_) {
        keys.push_back(r.key);
    }
    return keys;
}

Subscription Layer::observe(LayerProperty property, std::function<void()> observer) {
    auto call = [fn = std::move(observer)](const auto&) { fn(); };
    switch (property) {
        case LayerProperty::Opacity:
            return opacity_.subscribe(call);
        case LayerProperty::Contents:
            return contents_.subscribe(call);
        case LayerProperty::ContentsFilter:
            return contentsFilter_.subscribe(call);
        case LayerProperty::Hidden:
            return hidden_.subscribe(call);
        case LayerProperty::Frame:
            return frame_.subscribe(call);
        case LayerProperty::VideoGravity:
            return videoGravity_.subscribe(call);
        case LayerProperty::Animations:
            return animationChanges_.subscribe(call);
    }
    return {};
}

}  // namespace kestio::platform
