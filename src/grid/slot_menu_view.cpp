#include "grid/slot_menu_view.h"

#include <QAction>
#include <QMenu>

namespace kestio::grid {

void fillSlotMenu(QMenu& menu, const std::vector<SlotMenuEntry>& entries,
                  const std::function<void(const SlotCommand&)>& chosen) {
    for (const auto& entry : entries) {
        switch (entry.kind) {
            case SlotMenuEntry::Kind::separator:
                menu.addSeparator();
                break;
            case SlotMenuEntry::Kind::submenu: {
                QMenu* sub = menu.addMenu(QString::fromStdString(entry.text));
                fillSlotMenu(*sub, entry.children, chosen);
                break;
            }
            case SlotMenuEntry::Kind::action: {
                QString text = QString::fromStdString(entry.text);
                if (entry.checked) {
                    text += QStringLiteral("  ✓");
                }
                QAction* action = menu.addAction(text);
                action->setEnabled(entry.enabled);
                // Qt menus have no destructive role: such entries are marked and read plainly.
                action->setProperty("destructive", entry.destructive);
                const SlotCommand command = entry.command;
                QObject::connect(action, &QAction::triggered, &menu,
                                 [chosen, command] { chosen(command); });
                break;
            }
        }
    }
}

}  // namespace kestio::grid
