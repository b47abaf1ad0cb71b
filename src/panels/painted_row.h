#pragma once

#include <QWidget>
#include <functional>

class QPainter;

namespace kestio::panels {

// A row of a panel that only paints: its owner hands it the drawing of the current state.
class PaintedRow : public QWidget {
  public:
    using Painter = std::function<void(QPainter&, const QRectF& bounds)>;

    explicit PaintedRow(Painter paint, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Painter paint_;
};

// The background of the player panel's framed rows: the window background with a 1-point line
// of grey at opacity 0.3 drawn inside the row's bounds.
void paintFramedRow(QPainter& painter, const QRectF& bounds);

}  // namespace kestio::panels
