#pragma once

#include <QSize>
#include <functional>
#include <memory>

#include "platform/graphics/geometry.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
#include "platform/runloop/run_loop.h"

class QScreen;

namespace kestio::platform {

// What a view of a layer tree keeps on the main thread, whatever way its pictures then reach the
// screen: the tree of its own, whose root takes the view's size; the publisher of that tree's
// snapshots; the set of drawings it shares with other views of the same picture; and the
// Presenter that composes the tree on a thread of its own at the view's device pixel size, once
// per display refresh. Main thread only, but for presenter().
class LayerPresentation {
  public:
    // The presenter paces itself by the loop's host clock.
    explicit LayerPresentation(RunLoop& loop);

    // A tree of the view's own, its root set to `viewSize`.
    void setRootLayer(std::shared_ptr<Layer> root, SizeF viewSize);
    const std::shared_ptr<Layer>& rootLayer() const { return root_; }

    // Composes the tree of setRootLayer() again, after a tree published elsewhere.
    void showOwnTree();

    // Where the presenter finds the drawings of other views of the same picture and leaves its
    // own (see SharedCompositions); null: a set of the view's own.
    void setSharedCompositions(std::shared_ptr<SharedCompositions> shared);
    const std::shared_ptr<SharedCompositions>& sharedCompositions() const { return shared_; }

    // Refreshes per second; 0 follows the refresh rate of `screen` (60 when it has none).
    void setFrameRate(double hz, const QScreen* screen);
    double frameRate(const QScreen* screen) const;

    // The view took a new size: the root's frame follows it, then `layout` runs (when set), and
    // the snapshot of both reaches the presenter together with the new size in pixels.
    void resize(SizeF size, QSize pixels, const std::function<void(SizeF)>& layout);

    // Starts composing at `pixels`, at the frame rate for `screen`.
    void start(QSize pixels, const QScreen* screen);

    Presenter& presenter() { return presenter_; }

  private:
    std::shared_ptr<Layer> root_;
    SnapshotPublisher publisher_;
    std::shared_ptr<SharedCompositions> shared_ = std::make_shared<SharedCompositions>();
    Presenter presenter_;
    double requestedRate_ = 0.0;
};

// A view's size in device pixels: `size` logical pixels at `ratio` device pixels each.
QSize devicePixels(QSize size, double ratio);

}  // namespace kestio::platform
