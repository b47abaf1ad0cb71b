// The side panels' menus: a checked entry's mark stands out from the menu it is drawn on, in the
// plain row and in the highlighted one.

#include <gtest/gtest.h>

#include <QMenu>

#include "app/panel_menu.h"
#include "ui/ui_test_support.h"

namespace kestio::app {
namespace {

// Pixels of the row's leading part (where the mark is drawn) that differ clearly from `ground`.
int markPixels(const QImage& image, const QRect& row, const QColor& ground) {
    int count = 0;
    for (int y = row.top() + 2; y <= row.bottom() - 2; ++y) {
        for (int x = row.left() + 2; x < row.left() + 24 && x <= row.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int difference = std::abs(c.red() - ground.red()) +
                                   std::abs(c.green() - ground.green()) +
                                   std::abs(c.blue() - ground.blue());
            count += difference > 240 ? 1 : 0;
        }
    }
    return count;
}

TEST(PanelMenu, TheCheckMarkStandsOutFromTheMenuInEveryRowState) {
    QMenu menu;
    fillPanelMenu(menu, {PanelMenuEntry::heading("1kHz Output Level"),
                         PanelMenuEntry::separator(),
                         {PanelMenuEntry::Kind::action, "-12 dBFS", true, false, false, {}},
                         {PanelMenuEntry::Kind::action, "-20 dBFS", true, false, true, {}}});
    menu.adjustSize();
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 4);
    QAction* plain = actions[2];
    QAction* checked = actions[3];
    const QColor ground = menu.palette().color(QPalette::Window);

    const QImage shot = menu.grab().toImage();
    test::saveShot(shot, "panel_menu_checked");
    EXPECT_EQ(markPixels(shot, menu.actionGeometry(plain), ground), 0);
    EXPECT_GT(markPixels(shot, menu.actionGeometry(checked), ground), 12)
        << "no check mark to be seen on the menu";

    menu.setActiveAction(checked);
    const QImage highlighted = menu.grab().toImage();
    test::saveShot(highlighted, "panel_menu_checked_highlighted");
    const QRect row = menu.actionGeometry(checked);
    const QColor highlight = highlighted.pixelColor(row.right() - 4, row.center().y());
    EXPECT_GT(markPixels(highlighted, row, highlight), 12)
        << "no check mark to be seen on the highlighted row";
}

}  // namespace
}  // namespace kestio::app
