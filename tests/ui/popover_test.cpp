#include "ui/popover.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

namespace kestio::ui {
namespace {

TEST(Popover, OpensBesideTheAnchorsTrailingEdge) {
    const QRect screen(0, 0, 1920, 1080);
    // Room on the right: right of the anchor, centred on it.
    EXPECT_EQ(popoverOrigin(QRect(100, 200, 40, 234), QSize(150, 120), screen), QPoint(148, 257));
    // No room on the right: on the left.
    EXPECT_EQ(popoverOrigin(QRect(1850, 200, 40, 100), QSize(150, 120), screen),
              QPoint(1850 - 8 - 150, 190));
    // Kept inside the screen vertically.
    EXPECT_EQ(popoverOrigin(QRect(100, 0, 40, 20), QSize(150, 120), screen).y(), 0);
    EXPECT_EQ(popoverOrigin(QRect(100, 1070, 40, 10), QSize(150, 120), screen).y(), 960);
}

// The owner's own close and a dismissal are told apart.
TEST(Popover, ReportsOnlyDismissals) {
    QWidget anchor;
    anchor.resize(40, 100);
    anchor.show();
    Popover popover(&anchor);
    auto* layout = new QVBoxLayout;
    layout->addWidget(new QLabel(QStringLiteral("content")));
    popover.setContentLayout(layout);
    int dismissed = 0;
    popover.onDismissed = [&] { ++dismissed; };

    popover.open();
    EXPECT_TRUE(popover.isOpen());
    EXPECT_EQ(popover.pos().x(), anchor.mapToGlobal(QPoint(0, 0)).x() + 40 + 8);
    popover.finish();
    EXPECT_FALSE(popover.isOpen());
    EXPECT_EQ(dismissed, 0);

    popover.open();
    QTest::keyClick(&popover, Qt::Key_Escape);
    EXPECT_FALSE(popover.isOpen());
    EXPECT_EQ(dismissed, 1);

    popover.open();
    popover.close();  // what a click outside a popup does
    EXPECT_EQ(dismissed, 2);
}

}  // namespace
}  // namespace kestio::ui
