#pragma once

#include <QColor>
#include <QWidget>

#include "ui/binding.h"
#include "ui/value_range.h"

namespace kestio::panels {

// A thin horizontal slider over any range: a capsule track, an accent fill up to a round thumb.
// While enabled (also through its parents), a press or drag writes the value under the pointer,
// unstepped; any snapping is the binding's.
class CompactSlider : public QWidget {
  public:
    CompactSlider(ui::Binding<double> value, ui::ValueRange range, QColor accent,
                  double trackHeight, double thumbDiameter, QWidget* parent = nullptr);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void writeAt(double x);

    ui::Binding<double> value_;
    ui::ValueRange range_;
    QColor accent_;
    double trackHeight_;
    double thumbDiameter_;
};

}  // namespace kestio::panels
