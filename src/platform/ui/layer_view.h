#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/graphics/compositor.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// A widget that shows a layer tree. The root layer's frame follows the widget's size (in
// logical pixels); the tree is rendered by the CPU compositor at the widget's device pixel
// size for the run loop's current time, and repainted on every display frame while the
// widget is visible (a run-loop timer at the display's refresh rate).
class LayerView : public QWidget {
  public:
    explicit LayerView(RunLoop& loop, QWidget* parent = nullptr);
    ~LayerView() override;

    void setRootLayer(std::shared_ptr<Layer> root);
    const std::shared_ptr<Layer>& rootLayer() const { return root_; }

    // The view's layout pass: called after each size change, once the root's frame has been
    // set to the new size.
    std::function<void(SizeF)> onLayout;

    // Repaints per second while visible; 0 (the default) follows the screen's refresh rate.
    void setFrameRate(double hz);
    double frameRate() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void startTicking();

    RunLoop& loop_;
    std::shared_ptr<Layer> root_;
    Compositor compositor_;
    QImage picture_;
    double requestedRate_ = 0.0;
    TimerHandle ticker_;
};

}  // namespace kestio::platform
