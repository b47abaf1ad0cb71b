#pragma once

#include <QWidget>

#include "ui/binding.h"
#include "ui/value_range.h"

class QLineEdit;
class QMenu;

namespace kestio::ui {
class Popover;
}

namespace kestio::panels {

// The mixing-desk gain fader: a vertical track with a knob at the level's height on the audio
// level scale. A press or drag writes the level under the pointer; a double-click opens a popover
// to type a level; the context menu resets to 0 dB. It edits a level in dB through a binding and
// knows nothing of what the level means.
class VerticalFader : public QWidget {
  public:
    VerticalFader(ui::Binding<double> value, ui::ValueRange range, QWidget* parent = nullptr);

    const ui::ValueRange& range() const { return range_; }

    // The typed-value popover (open while the operator types a level).
    bool isShowingInput() const;
    QLineEdit* inputField() const { return field_; }
    void commitInput();
    void cancelInput();

    // The context menu, built in the current language (shown by a right click).
    QMenu* makeContextMenu();

    // The knob's vertical centre for the bound level (clamped into the range) at this height.
    double knobCentreY() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void writeAt(double y);
    void write(double level);
    void openInput();
    void buildPopover();

    ui::Binding<double> value_;
    ui::ValueRange range_;
    ui::Popover* popover_ = nullptr;
    QLineEdit* field_ = nullptr;
};

}  // namespace kestio::panels
