#pragma once

#include <QColor>
#include <QRectF>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/assignable_tile.h"
#include "app/panel_menu.h"
#include "app/panel_painting.h"

class QMenu;

namespace kestio {
class ShowController;
struct ProjectData;
}  // namespace kestio

namespace kestio::app {

// The total running time of a bank's clips (whole-file durations; in and out points and rates
// play no part), "mm:ss" or "h:mm:ss"; "--:--" when the sum is not a finite number, and
// "00:00" for a bank the project does not have.
std::string bankTotalText(const ProjectData& project, int bank);

// Where a bank button of rectangle `tile` draws its name in `font`: above the MIDI labels of
// `midi`, which sit at the button's bottom.
QRectF captionRect(const QRectF& tile, const TileFace& midi, const QFont& font);

// One bank button as drawn.
struct BankTile {
    int index = 0;
    bool exists = true;  // false: a position beyond the project's banks, drawn blank and inert
    bool current = false;
    bool dimmed = false;  // no content and not current
    std::string caption;
    QColor fill;
    QColor captionColor;
    TileFace midi;
};

// The bank list's behaviour without a view: twenty positions in two columns, the click (make
// current, or arm MIDI learn), the context menu (Rename, Copy, Replace, Paste, Clear; in learn
// mode only the MIDI entry) and the footer. Everything is read from and written to the show.
class BankListModel {
  public:
    static constexpr int kPositions = 20;
    static constexpr int kRows = 10;

    explicit BankListModel(ShowController& show) : show_(show) {}

    static std::string controlTarget(int bank) { return "bank:" + std::to_string(bank); }

    BankTile tile(int index) const;
    std::string footerName() const;
    std::string footerTotal() const;

    void click(int index);
    std::vector<PanelMenuEntry> menu(int index);

    // Bank `index` becomes a copy of the bank on the clipboard as it is now; marks unsaved.
    void paste(int index);
    // Bank `index` and the bank on the clipboard exchange their contents; marks unsaved.
    void replace(int index);

  private:
    bool exists(int index) const;
    // The clipboard's bank when it exists and is not `index`.
    std::optional<int> pasteSource(int index) const;

    ShowController& show_;
};

// The bank list view: the model's tiles in ten rows of two, a divider and the footer. It only
// paints and routes clicks and context-menu requests to the model.
class BankList : public QWidget {
  public:
    BankList(ShowController& show, QSize size, QWidget* parent = nullptr);

    // Where bank position `index` is drawn.
    QRectF tileRect(int index) const;
    BankListModel& model() { return model_; }
    // The context menu of a position, as it would open (for tests and the context event).
    std::unique_ptr<QMenu> contextMenu(int index);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    int positionAt(QPointF point) const;

    BankListModel model_;
    RepaintOn repaint_{*this};
};

}  // namespace kestio::app
