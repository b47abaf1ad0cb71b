#include "app/bank_list.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "grid/grid_toolbar_model.h"
#include "model/localization_manager.h"
#include "show/midi_routing.h"
#include "show/show_controller.h"
#include "show/slot_edits.h"
#include "ui/fonts.h"
#include "ui/palette.h"

namespace kestio::app {

namespace {

constexpr double kSpacing = 2.0;
constexpr double kDividerTop = 2.0;
constexpr double kFooterHeight = 18.0;  // 2 points of padding above a 16-point line
constexpr double kTileRadius = 6.0;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QRectF captionRect(const QRectF& tile, const TileFace& midi, const QFont& font) {
    QRectF rect = tile.adjusted(8, 0, -8, 0);
    // The MIDI labels sit at the bottom of the button, the name above them; where they leave
    // less than a line, the name keeps its line at the top.
    const double labels = labelsHeight(midi);
    if (labels > 0.0) {
        rect.setBottom(std::max(rect.top() + QFontMetricsF(font).height(), rect.bottom() - labels));
    }
    return rect;
}

std::string bankTotalText(const ProjectData& project, int bank) {
    if (!addressesBank(project, bank)) {
        return grid::formatDuration(0);
    }
    double sum = 0;
    for (const SlotData& slot : project.banks[std::size_t(bank)].slots) {
        if (slot.clipInfo) {
            sum += slot.clipInfo->duration;
        }
    }
    return std::isfinite(sum) ? grid::formatDuration(sum) : "--:--";
}

bool BankListModel::exists(int index) const {
    return addressesBank(show_.project(), index);
}

BankTile BankListModel::tile(int index) const {
    BankTile tile;
    tile.index = index;
    tile.exists = exists(index);
    if (!tile.exists) {
        tile.fill = ui::palette::white(0.14, 0.35);
        tile.captionColor = Qt::transparent;
        return tile;
    }
    const BankData& bank = show_.project().banks[std::size_t(index)];
    const bool content = std::any_of(bank.slots.begin(), bank.slots.end(),
                                     [](const SlotData& s) { return s.videoURL.has_value(); });
    tile.current = index == show_.currentBank.get();
    tile.dimmed = !content && !tile.current;
    tile.caption = bank.name;
    tile.fill = tile.current ? QColor::fromRgbF(0.7f, 0.1f, 0.1f)
                             : ui::palette::white(content ? 0.22 : 0.14);
    tile.captionColor = tile.dimmed ? ui::palette::white(0.4) : QColor(Qt::white);
    tile.midi = tileFace(show_, controlTarget(index));
    return tile;
}

std::string BankListModel::footerName() const {
    const int bank = show_.currentBank.get();
    return exists(bank) ? show_.project().banks[std::size_t(bank)].name : std::string();
}

std::string BankListModel::footerTotal() const {
    return bankTotalText(show_.project(), show_.currentBank.get());
}

void BankListModel::click(int index) {
    if (!exists(index)) {
        return;
    }
    if (show_.isMIDILearnMode.get()) {
        show_.midiRouting().armMIDILearn(controlTarget(index));
    } else if (show_.currentBank.get() != index) {
        show_.currentBank = index;
    }
}

std::optional<int> BankListModel::pasteSource(int index) const {
    const auto source = show_.bankClipboard.get();
    if (!source || *source == index || !exists(*source)) {
        return std::nullopt;
    }
    return source;
}

void BankListModel::paste(int index) {
    const auto source = pasteSource(index);
    if (!source || !exists(index)) {
        return;
    }
    show_.editProject(
        [&](ProjectData& project) {
            project.banks[std::size_t(index)] = project.banks[std::size_t(*source)];
        },
        true);
}

void BankListModel::replace(int index) {
    const auto source = pasteSource(index);
    if (!source || !exists(index)) {
        return;
    }
    show_.editProject(
        [&](ProjectData& project) {
            std::swap(project.banks[std::size_t(index)], project.banks[std::size_t(*source)]);
        },
        true);
}

std::vector<PanelMenuEntry> BankListModel::menu(int index) {
    std::vector<PanelMenuEntry> entries;
    if (!exists(index)) {
        return entries;
    }
    if (show_.isMIDILearnMode.get()) {
        if (auto clear = clearAssignmentEntry(show_, controlTarget(index))) {
            entries.push_back(*clear);
        }
        return entries;
    }
    auto action = [](std::string text, std::function<void()> fn) {
        PanelMenuEntry entry;
        entry.text = std::move(text);
        entry.action = std::move(fn);
        return entry;
    };
    ShowController& show = show_;
    entries.push_back(
        action(L("名前を変更", "Rename"), [&show, index] { show.renameBank(index); }));
    entries.push_back(PanelMenuEntry::separator());
    entries.push_back(action(L("コピー", "Copy"), [&show, index] { show.bankClipboard = index; }));
    if (pasteSource(index)) {
        entries.push_back(action(L("リプレイス", "Replace"), [this, index] { replace(index); }));
        entries.push_back(action(L("ペースト", "Paste"), [this, index] { paste(index); }));
    }
    entries.push_back(PanelMenuEntry::separator());
    PanelMenuEntry clear =
        action(L("クリア", "Clear"), [&show, index] { show.confirmClearBank = index; });
    clear.destructive = true;
    entries.push_back(clear);
    return entries;
}

BankList::BankList(ShowController& show, QSize size, QWidget* parent)
    : QWidget(parent), model_(show) {
    setFixedSize(size);
    repaint_(show.projectRevision)(show.currentBank)(show.isMIDILearnMode)(
        show.midiLearnArmedTarget)(show.showMIDIAssignLabels)(show.bankClipboard);
}

QRectF BankList::tileRect(int index) const {
    const double rowsHeight = height() - kFooterHeight - kDividerTop - 1.0 - 2 * kSpacing;
    const double tileHeight =
        (rowsHeight - (BankListModel::kRows - 1) * kSpacing) / BankListModel::kRows;
    const double tileWidth = (width() - kSpacing) / 2.0;
    const int row = index % BankListModel::kRows;
    const int column = index / BankListModel::kRows;
    return {column * (tileWidth + kSpacing), row * (tileHeight + kSpacing), tileWidth, tileHeight};
}

int BankList::positionAt(QPointF point) const {
    for (int i = 0; i < BankListModel::kPositions; ++i) {
        if (tileRect(i).contains(point)) {
            return i;
        }
    }
    return -1;
}

void BankList::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFont caption = ui::fonts::system(12);
    for (int i = 0; i < BankListModel::kPositions; ++i) {
        const BankTile tile = model_.tile(i);
        const QRectF rect = tileRect(i);
        fillRounded(p, rect, kTileRadius, tile.fill);
        if (!tile.exists) {
            continue;
        }
        drawLine(p, captionRect(rect, tile.midi, caption), q(tile.caption), caption,
                 tile.captionColor, Qt::AlignCenter);
        paintAssignableTile(p, rect, tile.midi);
    }
    const double dividerY = tileRect(BankListModel::kRows - 1).bottom() + kSpacing + kDividerTop;
    p.fillRect(QRectF(0, dividerY, width(), 1), ui::palette::white(0.28));

    const QRectF footer(4, dividerY + 1 + kSpacing + 2, width() - 8, kFooterHeight - 2);
    const QFont total = ui::fonts::monospaced(12, QFont::DemiBold);
    const QFont label = ui::fonts::system(10);
    const QString totalText = q(model_.footerTotal());
    const QString labelText = q(L("合計", "Total"));
    const double totalWidth = textWidth(totalText, total);
    const double labelWidth = textWidth(labelText, label);
    drawLine(p, QRectF(footer.right() - totalWidth, footer.top(), totalWidth, footer.height()),
             totalText, total, ui::palette::white(0.85));
    drawLine(p,
             QRectF(footer.right() - totalWidth - 6 - labelWidth, footer.top(), labelWidth,
                    footer.height()),
             labelText, label, ui::palette::white(0.45));
    drawLine(p,
             QRectF(footer.left(), footer.top(),
                    std::max(0.0, footer.width() - totalWidth - labelWidth - 18), footer.height()),
             q(model_.footerName()), ui::fonts::system(10, QFont::DemiBold),
             ui::palette::white(0.5));
}

void BankList::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const int index = positionAt(event->position());
        if (index >= 0) {
            model_.click(index);
        }
    }
}

std::unique_ptr<QMenu> BankList::contextMenu(int index) {
    const auto entries = model_.menu(index);
    if (entries.empty()) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>();
    fillPanelMenu(*menu, entries);
    return menu;
}

void BankList::contextMenuEvent(QContextMenuEvent* event) {
    const int index = positionAt(event->pos());
    if (index < 0) {
        return;
    }
    if (auto menu = contextMenu(index)) {
        menu->exec(event->globalPos());
    }
}

}  // namespace kestio::app
