#pragma once

#include <QGraphicsView>

namespace kestio::app {

class DesignCanvas;
class FieldEditing;

// Shows the design canvas scaled as a whole to fit the view, keeping its proportions, pinned to
// the top-left corner; the space it leaves is black. Clicks, scrolling and drags reach the
// panels at the scaled positions; menus and dialogs open unscaled. The typing into a field of
// the panels ends on Return, Enter or Escape and on a click elsewhere on the view, and the
// keys go back to the show (FieldEditing).
class CanvasView : public QGraphicsView {
  public:
    // Takes over `canvas`.
    explicit CanvasView(DesignCanvas* canvas, QWidget* parent = nullptr);

    double scale() const { return scale_; }
    DesignCanvas& canvas() const { return *canvas_; }
    FieldEditing& fieldEditing() const { return *editing_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void applyScale();

    DesignCanvas* canvas_;
    FieldEditing* editing_;
    double scale_ = 1.0;
};

}  // namespace kestio::app
