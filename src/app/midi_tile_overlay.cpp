#include "app/midi_tile_overlay.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

#include "app/assignable_tile.h"
#include "show/show_controller.h"

namespace kestio::app {

MIDITileOverlay::MIDITileOverlay(ShowController& show, QWidget& control, std::string target)
    : QWidget(control.parentWidget()), show_(show), control_(control), target_(std::move(target)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    control_.installEventFilter(this);
    repaint_(show.projectRevision)(show.isMIDILearnMode)(show.midiLearnArmedTarget)(
        show.showMIDIAssignLabels);
    follow();
}

std::unique_ptr<QMenu> MIDITileOverlay::contextMenu() {
    auto entry = clearAssignmentEntry(show_, target_);
    if (!entry) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>();
    fillPanelMenu(*menu, {*entry});
    return menu;
}

void MIDITileOverlay::paintEvent(QPaintEvent*) {
    const TileFace face = tileFace(show_, target_);
    if (!face.learnOutline && face.labels.empty()) {
        return;
    }
    QPainter painter(this);
    paintAssignableTile(painter, QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin),
                        face);
}

bool MIDITileOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &control_) {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
                follow();
                break;
            case QEvent::ContextMenu:
                if (auto menu = contextMenu()) {
                    menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MIDITileOverlay::follow() {
    setGeometry(control_.geometry().adjusted(-kMargin, -kMargin, kMargin, kMargin));
    setVisible(control_.isVisibleTo(parentWidget()));
    raise();
}

}  // namespace kestio::app
