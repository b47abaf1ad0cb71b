#pragma once

#include <QWidget>
#include <map>

#include "app/canvas_layout.h"

namespace kestio::app {

// The 1920 × 1080 design canvas at design size: the window background, the canvas grey over it,
// and the panels at their fixed places. It is shown scaled by a CanvasView.
class DesignCanvas : public QWidget {
  public:
    explicit DesignCanvas(QWidget* parent = nullptr);

    // Puts `widget` (taken over) at the panel's place on the canvas, at the panel's size.
    void place(CanvasPanel panel, QWidget* widget);
    // The widget at the panel's place, null when none was placed.
    QWidget* panel(CanvasPanel panel) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::map<CanvasPanel, QWidget*> panels_;
};

}  // namespace kestio::app
