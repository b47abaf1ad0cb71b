#include "grid/slot_cell_view.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "grid/slot_cell_painter.h"
#include "grid/slot_menu_model.h"
#include "grid/slot_menu_view.h"

namespace kestio::grid {

SlotCellView::SlotCellView(QWidget* parent) : QWidget(parent), look_(cellLook(inputs_)) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void SlotCellView::setInputs(SlotCellInputs inputs) {
    SlotCellLook look = cellLook(inputs);
    inputs_ = std::move(inputs);
    if (look == look_) {
        return;
    }
    look_ = std::move(look);
    drawnValid_ = false;
    update();
}

void SlotCellView::setScale(double scale) {
    if (scale != scale_) {
        scale_ = scale;
        drawnValid_ = false;
        update();
    }
}

void SlotCellView::paintEvent(QPaintEvent*) {
    const double dpr = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * dpr).toSize();
    if (!drawnValid_ || drawn_.size() != pixels) {
        drawn_ = renderSlotCell(pixels, scale_ * dpr, look_);
        drawn_.setDevicePixelRatio(dpr);
        drawnValid_ = true;
    }
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), drawn_);
}

void SlotCellView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        send({SlotCommandKind::play});
    }
}

void SlotCellView::contextMenuEvent(QContextMenuEvent* event) {
    const auto entries = slotMenu(inputs_);
    if (entries.empty()) {
        return;  // select mode: no menu at all
    }
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const int bank = inputs_.bank;
    const int slot = inputs_.index;
    fillSlotMenu(*menu, entries, [this, bank, slot](const SlotCommand& command) {
        if (onCommand) {
            onCommand(bank, slot, command);
        }
    });
    menu->popup(event->globalPos());
}

void SlotCellView::send(const SlotCommand& command) {
    if (onCommand) {
        onCommand(inputs_.bank, inputs_.index, command);
    }
}

}  // namespace kestio::grid
