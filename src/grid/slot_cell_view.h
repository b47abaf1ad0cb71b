#pragma once

#include <QWidget>
#include <functional>

#include "grid/slot_cell_look.h"
#include "grid/slot_command.h"

namespace kestio::grid {

// One cell of the slot grid. It keeps its inputs and their look, repaints only when the look
// changes, sends a click as the play command and opens the context menu on a secondary click.
// It paints in design points scaled by `scale`.
class SlotCellView : public QWidget {
  public:
    explicit SlotCellView(QWidget* parent = nullptr);

    // Takes new inputs; schedules a repaint only when they look different.
    void setInputs(SlotCellInputs inputs);
    const SlotCellInputs& inputs() const { return inputs_; }
    const SlotCellLook& look() const { return look_; }
    void setScale(double scale);

    // Receives the cell's commands (bank and slot are the inputs').
    std::function<void(int bank, int slot, const SlotCommand& command)> onCommand;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void send(const SlotCommand& command);

    SlotCellInputs inputs_;
    SlotCellLook look_;
    // The cell as last drawn; drawn again when the look, the size or the scale changes, so
    // that an exposure or a neighbour's repaint only copies it.
    QImage drawn_;
    bool drawnValid_ = false;
    double scale_ = 1.0;
};

}  // namespace kestio::grid
