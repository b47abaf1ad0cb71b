#pragma once

#include <QColor>
#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/contents_filter.h"
#include "platform/graphics/frame_source.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/gravity.h"
#include "platform/graphics/opacity_animation.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

struct LayerSnapshot;

// The properties of a layer that can be observed.
// Animations: one was added or removed (not told when one merely reaches its end).
enum class LayerProperty {
    Opacity,
    Contents,
    ContentsFilter,
    Hidden,
    Frame,
    VideoGravity,
    Animations
};

// One node of a picture: a rectangle in its superlayer with an opacity, an optional background
// colour, an optional still (contents) and an optional moving picture (a frame source, which
// makes it a player layer), drawn beneath its sublayers. Sublayers are drawn in increasing
// z position, equal positions in the order they were added.
//
// Coordinates are those of the superlayer's bounds, origin at the lower-left and y upward.
//
// Every property change takes effect at once: nothing animates unless an explicit opacity
// animation is added. While animations are attached, the opacity on screen (the presentation
// value) follows the most recently added one on the run loop's clock; an animation holds its
// final value after its end until it is removed. Each animation's completion runs once on the
// run loop, when the animation ends or when it is removed, whichever comes first.
//
// The tree is drawn off the main thread from immutable snapshots (LayerSnapshot): every change
// marks the layer and its ancestors changed and tells the root's tree observers once, so that
// a publisher can take a new snapshot on a later step; snapshot() shares the unchanged
// subtrees with the previous snapshot.
//
// Layers belong to the run loop's thread.
class Layer : public std::enable_shared_from_this<Layer> {
    struct Token {};

  public:
    static std::shared_ptr<Layer> create(RunLoop& loop);
    Layer(Token, RunLoop& loop);
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    RunLoop& runLoop() const { return loop_; }

    // Geometry.
    void setFrame(RectF frame);
    RectF frame() const { return frame_.get(); }
    RectF bounds() const;  // (0, 0, |width|, |height|)
    void setZPosition(double z);
    double zPosition() const { return zPosition_; }

    // Visibility.
    void setHidden(bool hidden);
    bool isHidden() const { return hidden_.get(); }
    void setOpacity(float opacity);
    float opacity() const { return opacity_.get(); }
    // The opacity on screen now, or at a given time of the run loop's clock.
    float presentationOpacity() const;
    float presentationOpacity(HostTime time) const;

    // Drawing.
    void setBackgroundColor(std::optional<QColor> color);
    std::optional<QColor> backgroundColor() const { return background_; }
    void setMasksToBounds(bool masks);
    bool masksToBounds() const { return masksToBounds_; }
    // A still shown in the bounds with the contents gravity; a null image shows nothing.
    void setContents(QImage image);
    const QImage& contents() const { return contents_.get(); }
    void setContentsGravity(Gravity gravity);
    Gravity contentsGravity() const { return contentsGravity_; }
    // A step the still goes through where it is composed (colour correction); null shows the
    // still as it is. Swapping it touches no picture here.
    void setContentsFilter(std::shared_ptr<const ContentsFilter> filter);
    const std::shared_ptr<const ContentsFilter>& contentsFilter() const {
        return contentsFilter_.get();
    }
    // Moving pictures, asked for the picture of each rendered time; placed with the video
    // gravity. Any number of layers may show the same source. Snapshots take the source to
    // presenter threads, but it is always let go on this layer's thread, so a source may hold
    // objects of that thread (a player layer holds its player).
    void setFrameSource(std::shared_ptr<const FrameSource> source);
    const std::shared_ptr<const FrameSource>& frameSource() const { return frameSource_; }
    void setVideoGravity(Gravity gravity);
    Gravity videoGravity() const { return videoGravity_.get(); }

    // The tree. Adding a layer that has a superlayer moves it; adding the layer itself or one
    // of its ancestors is refused (returns false).
    bool addSublayer(const std::shared_ptr<Layer>& layer);
    void removeFromSuperlayer();
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
    std::shared_ptr<Layer> superlayer() const { return superlayer_.lock(); }

    // Explicit opacity animations, by key. Adding under a key in use removes the earlier one
    // first (its completion runs as for a removal). The animation begins at its begin time (host
    // time), or now when it has none; its completion runs on the loop once that begin time plus
    // its duration has passed.
    void addAnimation(const std::string& key, const OpacityAnimation& animation,
                      std::function<void()> completion = {});
    void removeAnimation(const std::string& key);
    void removeAllAnimations();
    bool hasAnimation(const std::string& key) const;
    // The animation under `key` with the begin time it runs from; none without one. Added to
    // another layer, it goes on there exactly as it runs here.
    std::optional<OpacityAnimation> animation(const std::string& key) const;
    std::vector<std::string> animationKeys() const;

    // Calls `observer` after every set of the property, also when the value is unchanged.
    [[nodiscard]] Subscription observe(LayerProperty property, std::function<void()> observer);

    // An immutable copy of the tree from this layer down as it is now, sharing the subtrees
    // that did not change since the previous call with that call's result.
    std::shared_ptr<const LayerSnapshot> snapshot() const;
    // Calls `observer` when something in the tree under this layer changes while it is the
    // root (it has no superlayer): once after each snapshot(), on the first change after it.
    [[nodiscard]] Subscription observeTree(std::function<void()> observer);

  private:
    struct Completion {
        std::function<void()> fn;
        bool done = false;
    };
    struct Running {
        std::string key;
        OpacityAnimation animation;
        HostTime beginTime{};
        std::shared_ptr<Completion> completion;
        TimerHandle endTimer;
    };

    void finishRemoved(Running& running);
    bool isAncestorOrSelf(const Layer* layer) const;
    // Marks this layer and its ancestors as changed since their snapshots.
    void changed();

    RunLoop& loop_;
    Published<RectF> frame_;
    double zPosition_ = 0.0;
    Published<bool> hidden_{false};
    Published<float> opacity_{1.0f};
    std::optional<QColor> background_;
    bool masksToBounds_ = false;
    Published<QImage> contents_;
    Gravity contentsGravity_ = Gravity::Resize;
    Published<std::shared_ptr<const ContentsFilter>> contentsFilter_;
    std::shared_ptr<const FrameSource> frameSource_;
    Published<Gravity> videoGravity_{Gravity::ResizeAspect};
    std::vector<std::shared_ptr<Layer>> sublayers_;
    std::weak_ptr<Layer> superlayer_;
    std::vector<Running> animations_;  // in the order they were added
    // The last snapshot and whether the layer or anything under it changed since. A changed
    // layer's ancestors are changed too, so a clean layer's whole subtree is clean.
    mutable std::shared_ptr<const LayerSnapshot> snapshot_;
    mutable bool changed_ = true;
    Published<std::uint64_t> treeChanges_{0};
    // Counts the animations added and removed, for their observers.
    Published<std::uint64_t> animationChanges_{0};
};

}  // namespace kestio::platform
