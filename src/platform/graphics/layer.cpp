#include "platform/graphics/layer.h"

#include <algorithm>
#include <cmath>

namespace kestio::platform {

std::shared_ptr<Layer> Layer::create(RunLoop& loop) {
    return std::make_shared<Layer>(Token{}, loop);
}

Layer::Layer(Token, RunLoop& loop) : loop_(loop) {}

Layer::~Layer() {
    removeAllAnimations();
    for (auto& sublayer : sublayers_) {
        sublayer->superlayer_.reset();
    }
}

void Layer::setFrame(RectF frame) {
    frame_.set(frame);
}

RectF Layer::bounds() const {
    const RectF f = frame_.get();
    return {0.0, 0.0, std::fabs(f.width), std::fabs(f.height)};
}

void Layer::setHidden(bool hidden) {
    hidden_.set(hidden);
}

void Layer::setOpacity(float opacity) {
    opacity_.set(opacity);
}

float Layer::presentationOpacity() const {
    return presentationOpacity(loop_.now());
}

float Layer::presentationOpacity(double time) const {
    if (animations_.empty()) {
        return opacity_.get();
    }
    const Running& latest = animations_.back();
    return latest.animation.valueAt(time - latest.beginTime);
}

void Layer::setContents(QImage image) {
    contents_.set(std::move(image));
}

void Layer::setVideoGravity(Gravity gravity) {
    videoGravity_.set(gravity);
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
    return true;
}

void Layer::removeFromSuperlayer() {
    auto parent = superlayer_.lock();
    superlayer_.reset();
    if (!parent) {
        return;
    }
    std::erase_if(parent->sublayers_, [this](const auto& l) { return l.get() == this; });
}

void Layer::addAnimation(const std::string& key, const OpacityAnimation& animation,
                         std::function<void()> completion) {
    removeAnimation(key);
    Running running;
    running.key = key;
    running.animation = animation;
    running.beginTime = loop_.now();
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
    if (animation.runsInstantly()) {
        // Already at its end: the completion follows on the next turn of the loop.
        running.endTimer = loop_.after(0.0, std::move(fireAtEnd));
    } else {
        running.endTimer = loop_.after(animation.duration, std::move(fireAtEnd));
    }
    animations_.push_back(std::move(running));
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
    finishRemoved(running);
}

void Layer::removeAllAnimations() {
    auto removed = std::move(animations_);
    animations_.clear();
    for (auto& running : removed) {
        finishRemoved(running);
    }
}

bool Layer::hasAnimation(const std::string& key) const {
    return std::any_of(animations_.begin(), animations_.end(),
                       [&](const Running& r) { return r.key == key; });
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
        case LayerProperty::Hidden:
            return hidden_.subscribe(call);
        case LayerProperty::Frame:
            return frame_.subscribe(call);
        case LayerProperty::VideoGravity:
            return videoGravity_.subscribe(call);
    }
    return {};
}

}  // namespace kestio::platform
