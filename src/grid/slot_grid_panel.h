#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "grid/grid_toolbar_view.h"
#include "grid/selection_actions.h"
#include "grid/slot_cell_actions.h"
#include "grid/slot_cell_view.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio {
class MIDIInputController;
class MIDIOutputController;
class ShowController;
}  // namespace kestio

namespace kestio::grid {

class MIDIAssignmentsPanel;

// The slot grid panel: the toolbar bar over one cell for every slot of the current bank
// (rows × columns of the project; a bank with fewer slots leaves the rest of the grid empty).
// It follows the show state, the interface language and the thumbnails landing from their
// decoder, hands clicks, menu choices and the toolbar's controls to the show controller's
// operations, and takes file drops on the cell area, which it delivers to the show's import on
// a later turn of the run loop with the bank shown at that moment. The panel is laid out in
// design points (1878 × 528) and scaled to its width.
class SlotGridPanel : public QWidget {
  public:
    struct Services {
        ShowController& show;
        platform::RunLoop& loop;
        MIDIInputController& midi;
        MIDIOutputController& midiOut;
        MIDIAssignmentsPanel* midiAssignments = nullptr;
    };

    explicit SlotGridPanel(Services services, QWidget* parent = nullptr);
    ~SlotGridPanel() override;

    // Reads the show state again and hands every cell and the toolbar their new inputs (each
    // repaints only when its look changed). Called on every change the panel follows.
    void refresh();

    double scale() const;
    GridToolbarView& toolbar() { return *toolbar_; }
    // The cell of the slot index, none when the grid has no such cell.
    SlotCellView* cell(int slot) const;
    int cellCount() const { return static_cast<int>(cells_.size()); }
    // The cell area in the panel's own coordinates.
    QRectF cellArea() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void rebuildCells();
    void placeCells();
    void pressToolbar(ToolbarControl control);

    ShowController& show_;
    platform::RunLoop& loop_;
    MIDIInputController& midi_;
    MIDIOutputController& midiOut_;
    MIDIAssignmentsPanel* midiAssignments_;
    SlotCellActions cellActions_;
    SelectionActions selection_;
    GridToolbarView* toolbar_;
    std::vector<SlotCellView*> cells_;  // slot index order; children of the panel
    int rows_ = 0;
    int columns_ = 0;
    std::vector<platform::Subscription> subscriptions_;
    std::shared_ptr<SlotGridPanel*> lifetime_;
};

}  // namespace kestio::grid
