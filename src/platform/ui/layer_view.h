#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "platform/graphics/geometry.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
#include "platform/runloop/run_loop.h"
#include "platform/ui/layer_presentation.h"

namespace kestio::platform {

// A widget that shows a layer tree. The root layer's frame follows the widget's size (in
// logical pixels). While the widget is visible a Presenter composes the tree on its own
// thread at the widget's device pixel size, once per display refresh (the screen's refresh
// rate unless set), from the snapshots the view publishes after each change of the tree; a
// stalled main thread therefore never stalls the pictures being composed.
//
// Qt widgets paint on the GUI thread, so the picture still reaches the screen through
// paintEvent, which only copies the newest composed picture (one blit, no composing). The
// presenter asks for that repaint with a queued call, at most one outstanding at a time, and only
// when the picture differs from the one before: an unchanged program repaints nothing.
//
// Several views may show one tree (the program output and its monitors): each composes it at its
// own size, and views of the same size share their drawings (SharedCompositions).
class LayerView : public QWidget {
  public:
    // The presenter paces itself by the loop's host clock.
    explicit LayerView(RunLoop& loop, QWidget* parent = nullptr);
    ~LayerView() override;

    // A tree of this view's own, whose root takes the view's size.
    void setRootLayer(std::shared_ptr<Layer> root);
    const std::shared_ptr<Layer>& rootLayer() const { return presentation_.rootLayer(); }

    // Shows instead a tree published elsewhere, whose owner sets its root's frame; the view scales
    // it to its own size. `shared` is the one its views share drawings through. Replaces the tree
    // of setRootLayer(); a null slot goes back to it.
    void showPublishedTree(std::shared_ptr<const SnapshotSlot> slot,
                           std::shared_ptr<SharedCompositions> shared);

    // Where the view's presenter finds the drawings of other views of the same picture and
    // leaves its own (see SharedCompositions); null: a set of the view's own. For the tree of
    // setRootLayer().
    void setSharedCompositions(std::shared_ptr<SharedCompositions> shared);
    const std::shared_ptr<SharedCompositions>& sharedCompositions() const {
        return presentation_.sharedCompositions();
    }

    // The view's layout pass: called after each size change, once the root's frame has been
    // set to the new size.
    std::function<void(SizeF)> onLayout;

    // Refreshes per second while visible; 0 (the default) follows the screen's refresh rate.
    void setFrameRate(double hz);
    double frameRate() const;

    Presenter& presenter() { return presentation_.presenter(); }

    // Calls `then` once this view has painted a picture whose composing began after this call,
    // from the paint (at once while the view is hidden). A later call replaces a `then` still
    // waiting, and one whose picture never comes (it did not change, the view was destroyed) is
    // never called.
    void afterNextPicture(std::function<void()> then);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QSize devicePixels() const;

    LayerPresentation presentation_;
    std::atomic<bool> repaintAsked_{false};
    std::atomic<qint64> lastPicture_{0};  // the newest picture's cacheKey(), 0 for none
    // What afterNextPicture() waits for: a picture numbered this high, and what then runs.
    std::pair<std::uint64_t, std::function<void()>> afterPicture_;
};

}  // namespace kestio::platform
