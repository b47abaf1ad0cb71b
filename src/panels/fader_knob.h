#pragma once

#include <QRectF>
#include <QWidget>

class QPainter;

namespace kestio::panels {

// The gain fader's knob: a drawn cap of metal-like greys with a bright centre line at its middle
// (the line that marks the level), grip lines and dark side edges. It fills the rectangle it is
// given and has no state.
class FaderKnob : public QWidget {
  public:
    static constexpr double kHeight = 52.0;

    explicit FaderKnob(QWidget* parent = nullptr);

    // Paints the knob into `rect` (the fader paints it this way at the level's height).
    static void paint(QPainter& painter, const QRectF& rect);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kestio::panels
