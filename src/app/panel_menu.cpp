#include "app/panel_menu.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>

#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/symbols.h"

namespace kestio::app {

namespace {

QIcon checkmarkIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    ui::drawSymbol(painter, QRectF(0, 0, 32, 32), ui::Symbol::checkmark, Qt::white);
    return QIcon(pixmap);
}

}  // namespace

void fillPanelMenu(QMenu& menu, const std::vector<PanelMenuEntry>& entries) {
    for (const PanelMenuEntry& entry : entries) {
        switch (entry.kind) {
            case PanelMenuEntry::Kind::separator:
                menu.addSeparator();
                break;
            case PanelMenuEntry::Kind::heading: {
                QAction* heading = menu.addAction(QString::fromStdString(entry.text));
                heading->setEnabled(false);
                heading->setFont(ui::fonts::system(11, QFont::DemiBold));
                break;
            }
            case PanelMenuEntry::Kind::action: {
                QAction* action = menu.addAction(QString::fromStdString(entry.text));
                action->setEnabled(entry.enabled);
                action->setProperty("destructive", entry.destructive);
                if (entry.checked) {
                    action->setIcon(checkmarkIcon());
                    action->setIconVisibleInMenu(true);
                }
                if (entry.action) {
                    QObject::connect(action, &QAction::triggered, action,
                                     [fn = entry.action] { fn(); });
                }
                break;
            }
        }
    }
}

}  // namespace kestio::app
