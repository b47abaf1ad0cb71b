#pragma once

#include <QGraphicsView>

namespace kestio::app {

class DesignCanvas;

// Shows the design canvas scaled as a whole to fit the view, keeping its proportions, pinned to
// the top-left corner; the space it leaves is black. Clicks, scrolling and drags reach the
// panels at the scaled positions; menus and dialogs open unscaled.
class CanvasView : public QGraphicsView {
  public:
    // Takes over `canvas`.
    explicit CanvasView(DesignCanvas* canvas, QWidget* parent = nullptr);

    double scale() const { return scale_; }
    DesignCanvas& canvas() const { return *canvas_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void applyScale();

    DesignCanvas* canvas_;
    double scale_ = 1.0;
};

}  // namespace kestio::app
