#pragma once

#include <QWidget>

#include "ui/binding.h"

namespace kestio::panels {

// A vertical slider for one equaliser band (-12 to +12 dB): a thin track, a bar from the 0 dB
// centre line to the value (yellow above, cyan below), and a full-width knob. A press or drag
// writes the whole decibel under the pointer; a double-click writes 0.
class EQBandSlider : public QWidget {
  public:
    explicit EQBandSlider(ui::Binding<double> value, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    void writeAt(double y);
    void write(double value);

    ui::Binding<double> value_;
};

}  // namespace kestio::panels
