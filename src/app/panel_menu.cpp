#include "app/panel_menu.h"

#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/symbols.h"

namespace kestio::app {

namespace {

QPixmap checkmark(const QColor& color) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    ui::drawSymbol(painter, QRectF(0, 0, 32, 32), ui::Symbol::checkmark, color);
    return pixmap;
}

// The check mark in the menu's own text colours: its item's text colour, and the highlighted
// text colour while the item is under the pointer, so that it shows on the menu's background
// whatever the style and palette.
QIcon checkmarkIcon(const QPalette& palette) {
    QIcon icon;
    icon.addPixmap(checkmark(palette.color(QPalette::Active, QPalette::Text)), QIcon::Normal);
    icon.addPixmap(checkmark(palette.color(QPalette::Active, QPalette::HighlightedText)),
                   QIcon::Active);
    icon.addPixmap(checkmark(palette.color(QPalette::Disabled, QPalette::Text)), QIcon::Disabled);
    return icon;
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
                    action->setIcon(checkmarkIcon(menu.palette()));
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
