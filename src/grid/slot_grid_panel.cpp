#include "grid/slot_grid_panel.h"

#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>

#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "grid/cell_inputs.h"
#include "grid/grid_geometry.h"
#include "grid/midi_assignments_panel.h"
#include "model/localization_manager.h"
#include "platform/runloop/console.h"
#include "show/midi_routing.h"
#include "show/show_controller.h"
#include "show/show_import.h"
#include "show/show_playback.h"
#include "ui/palette.h"

namespace kestio::grid {

namespace {

// Rows or columns as the grid lays them out: a project read from a hand-edited file may have
// none, or more than a screen could show; the grid then shows none, or the first 64.
int gridExtent(std::int64_t count) {
    return static_cast<int>(std::clamp<std::int64_t>(count, 0, 64));
}

// Qt's own text form of a point or a rectangle, as its debug stream writes it.
template <typename T>
std::string debugText(const T& value) {
    QString text;
    QDebug(&text).nospace().noquote() << value;
    return text.toStdString();
}

AppLanguage currentLanguage() {
    return LocalizationManager::shared().language.get();
}

}  // namespace

SlotGridPanel::SlotGridPanel(Services services, QWidget* parent)
    : QWidget(parent),
      show_(services.show),
      loop_(services.loop),
      midi_(services.midi),
      midiOut_(services.midiOut),
      midiAssignments_(services.midiAssignments),
      cellActions_(services.show, services.loop),
      selection_(services.show),
      toolbar_(new GridToolbarView(this)),
      lifetime_(std::make_shared<SlotGridPanel*>(this)) {
    setAcceptDrops(true);
    resize(static_cast<int>(kPanelWidth), static_cast<int>(kPanelHeight));
    toolbar_->onPress = [this](ToolbarControl control) { pressToolbar(control); };

    auto follow = [this](auto& published) {
        subscriptions_.push_back(published.subscribe([this](const auto&) { refresh(); }));
    };
    follow(show_.projectRevision);
    follow(show_.currentBank);
    follow(show_.cursorSlot);
    follow(show_.isSelectMode);
    follow(show_.selectedSlots);
    follow(show_.isMIDILearnMode);
    follow(show_.midiLearnArmedTarget);
    follow(show_.showMIDIAssignLabels);
    follow(show_.followJump);
    follow(show_.editLocked);
    follow(show_.isSettingJumpTarget);
    follow(show_.replacingSource);
    follow(show_.thumbnailStore().landed);
    follow(show_.slotClipboard);
    follow(show_.multiSlotClipboard);
    follow(show_.playback().currentBankIndex());
    follow(show_.playback().currentSlotIndex());
    follow(LocalizationManager::shared().language);
    follow(midi_.isConnected);
    follow(midi_.lastMessageDescription);
    follow(midiOut_.isConnected);
    follow(midiOut_.lastMessageDescription);
    refresh();
}

SlotGridPanel::~SlotGridPanel() = default;

double SlotGridPanel::scale() const {
    return width() > 0 ? width() / kPanelWidth : 1.0;
}

SlotCellView* SlotGridPanel::cell(int slot) const {
    if (slot < 0 || static_cast<std::size_t>(slot) >= cells_.size()) {
        return nullptr;
    }
    return cells_[static_cast<std::size_t>(slot)];
}

QRectF SlotGridPanel::cellArea() const {
    return slotBodyRect(QRectF(rect()), scale());
}

void SlotGridPanel::rebuildCells() {
    const ProjectData& project = show_.project();
    rows_ = gridExtent(project.rows);
    columns_ = gridExtent(project.columns);
    const std::size_t count = rows_ > 0 && columns_ > 0 ? static_cast<std::size_t>(rows_) *
                                                              static_cast<std::size_t>(columns_)
                                                        : 0;
    while (cells_.size() > count) {
        delete cells_.back();
        cells_.pop_back();
    }
    while (cells_.size() < count) {
        auto* cell = new SlotCellView(this);
        cell->onCommand = [this](int bank, int slot, const SlotCommand& command) {
            cellActions_.perform(bank, slot, command);
        };
        cell->show();
        cells_.push_back(cell);
    }
    placeCells();
}

void SlotGridPanel::placeCells() {
    const double s = scale();
    const QSizeF design(width() / s, height() / s);
    toolbar_->setGeometry(0, 0, width(), static_cast<int>(std::ceil(kToolbarHeight * s)));
    toolbar_->setScale(s);
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        const int row = static_cast<int>(i) / columns_;
        const int column = static_cast<int>(i) % columns_;
        const QRectF r = cellRect(design, rows_, columns_, row, column);
        const QRectF scaled(r.x() * s, r.y() * s, r.width() * s, r.height() * s);
        cells_[i]->setGeometry(scaled.toAlignedRect());
        cells_[i]->setScale(s);
    }
}

void SlotGridPanel::refresh() {
    const ProjectData& project = show_.project();
    if (gridExtent(project.rows) != rows_ || gridExtent(project.columns) != columns_) {
        rebuildCells();
    }
    const AppLanguage language = currentLanguage();
    const int bank = show_.currentBank.get();
    const bool bankExists = bank >= 0 && static_cast<std::size_t>(bank) < project.banks.size();
    const std::size_t slotCount =
        bankExists ? project.banks[static_cast<std::size_t>(bank)].slots.size() : 0;
    const std::optional<int> jumpSlot = jumpTargetSlot(show_);
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        const int slot = static_cast<int>(i);
        // Only slots the bank has get a cell; the rest of the grid stays empty.
        cells_[i]->setVisible(i < slotCount);
        if (i < slotCount) {
            cells_[i]->setInputs(cellInputs(show_, bank, slot, jumpSlot == slot, language));
        }
    }
    toolbar_->setFace(toolbarFace(toolbarState(show_, language)));
    toolbar_->setMIDIStatus({midi_.isConnected.get(), midi_.lastMessageDescription.get(),
                             midiOut_.isConnected.get(), midiOut_.lastMessageDescription.get()});
}

void SlotGridPanel::pressToolbar(ToolbarControl control) {
    switch (control) {
        case ToolbarControl::multipleSelect:
            selection_.setSelectMode(true);
            break;
        case ToolbarControl::cancel:
            selection_.setSelectMode(false);
            break;
        case ToolbarControl::midiLearn:
            show_.midiRouting().toggleMIDILearnMode();
            break;
        case ToolbarControl::midiList:
            if (midiAssignments_) {
                midiAssignments_->toggle();
            }
            break;
        case ToolbarControl::midiLabels:
            show_.showMIDIAssignLabels = !show_.showMIDIAssignLabels.get();
            break;
        case ToolbarControl::followJump:
            show_.followJump = !show_.followJump.get();
            break;
        case ToolbarControl::selectAll:
            selection_.toggleSelectAll();
            break;
        case ToolbarControl::batchNextGo:
            selection_.setPostRollForSelected(PostRollMode::next);
            break;
        case ToolbarControl::batchFreeze:
            selection_.setPostRollForSelected(PostRollMode::freeze);
            break;
        case ToolbarControl::copy:
            selection_.copySelectedSlots();
            break;
        case ToolbarControl::remove:
            selection_.deleteSelectedSlots();
            break;
        case ToolbarControl::midiStatus:
        case ToolbarControl::countText:
        case ToolbarControl::separator:
        case ToolbarControl::spacer:
            break;
    }
}

void SlotGridPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    const double r = kPanelCornerRadius * scale();
    clip.addRoundedRect(QRectF(rect()), r, r);
    p.fillPath(clip, ui::palette::white(0.1));
}

void SlotGridPanel::resizeEvent(QResizeEvent*) {
    placeCells();
}

void SlotGridPanel::dragEnterEvent(QDragEnterEvent* event) {
    // Only drags that carry a URL list are offered to the grid; the others leave no line.
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    const QPointF point = event->position();
    platform::Console::log("🟢 GridDropNSView draggingEntered loc=" + debugText(point) +
                           " slotBodyRect=" + debugText(cellArea()));
    if (slotAtPoint(point, cellArea(), rows_, columns_)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void SlotGridPanel::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls() &&
        slotAtPoint(event->position(), cellArea(), rows_, columns_)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void SlotGridPanel::dropEvent(QDropEvent* event) {
    const auto slot = slotAtPoint(event->position(), cellArea(), rows_, columns_);
    if (!slot || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    auto files = droppedFiles(*event->mimeData());
    platform::Console::log("🏁 GridDropNSView drop slot=" + std::to_string(*slot) +
                           " urls=" + std::to_string(files.size()));
    if (files.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Not inside the drag: the import starts on a later turn, for the bank shown then.
    std::weak_ptr<SlotGridPanel*> alive = lifetime_;
    loop_.post([alive, slot = *slot, files = std::move(files)] {
        if (auto self = alive.lock()) {
            ShowController& show = (*self)->show_;
            show.showImport().handleDrop(files, show.currentBank.get(), slot);
        }
    });
}

}  // namespace kestio::grid
