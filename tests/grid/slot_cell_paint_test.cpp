#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>

#include "grid/slot_cell_painter.h"
#include "ui/ui_test_support.h"

namespace kestio::grid {
namespace {

using test::near;
using test::over;

constexpr int kW = 184;
constexpr int kH = 118;

QImage paint(const SlotCellInputs& in) {
    QImage image(kW, kH, QImage::Format_ARGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    paintSlotCell(painter, QSizeF(kW, kH), cellLook(in));
    painter.end();
    return image;
}

QColor grey(double level) {
    const int v = static_cast<int>(std::lround(level * 255));
    return QColor(v, v, v);
}

// How many pixels of the rectangle are within a tolerance of the colour.
int count(const QImage& image, const QRect& rect, const QColor& color, int tolerance = 12) {
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (near(image.pixelColor(x, y), color, tolerance)) {
                ++n;
            }
        }
    }
    return n;
}

SlotCellInputs loaded() {
    SlotCellInputs in;
    in.language = AppLanguage::en;
    in.slot.name = "01_Clip";
    in.slot.videoURL = "/media/clip.mp4";
    return in;
}

const QColor kRed(0xFF, 0x45, 0x3A), kBlue(0x0A, 0x84, 0xFF), kOrange(0xFF, 0x9F, 0x0A),
    kGreen(0x32, 0xD7, 0x4B), kCyan(0x64, 0xD2, 0xFF);

TEST(SlotCellPaint, BackgroundsAtTheCentre) {
    struct Case {
        const char* name;
        void (*set)(SlotCellInputs&);
        QColor centre;
    };
    const Case cases[] = {
        {"empty", [](SlotCellInputs& in) { in.slot.videoURL.reset(); }, grey(0.18)},
        {"loaded", [](SlotCellInputs&) {}, grey(0.28)},
        {"missing", [](SlotCellInputs& in) { in.slot.isFileMissing = true; }, QColor(77, 41, 26)},
        {"on air", [](SlotCellInputs& in) { in.isCurrent = true; }, grey(0.45)},
        {"jump target", [](SlotCellInputs& in) { in.isJumpTarget = true; }, grey(0.3)},
        {"selected", [](SlotCellInputs& in) { in.isSelected = true; },
         over(QColor(0x0A, 0x84, 0xFF, 89), grey(0.2))},
    };
    for (const auto& c : cases) {
        SlotCellInputs in = loaded();
        c.set(in);
        const QImage image = paint(in);
        EXPECT_TRUE(near(image.pixelColor(kW / 2, 50), c.centre, 2))
            << c.name << ": " << image.pixelColor(kW / 2, 50).name().toStdString();
    }
}

// A frame of width w stroked on the edge shows w/2 pixels inside the cell.
TEST(SlotCellPaint, FramesAndTheirWidths) {
    struct Case {
        const char* name;
        void (*set)(SlotCellInputs&);
        QColor color;
        int inside;
    };
    const Case cases[] = {
        {"on air", [](SlotCellInputs& in) { in.isCurrent = true; }, kRed, 2},
        {"cursor", [](SlotCellInputs& in) { in.isCursor = true; }, kBlue, 2},
        {"selected", [](SlotCellInputs& in) { in.isSelected = true; }, kBlue, 2},
        {"armed", [](SlotCellInputs& in) { in.isMIDIArmed = true; }, kGreen, 2},
        {"missing", [](SlotCellInputs& in) { in.slot.isFileMissing = true; }, kOrange, 1},
        {"jump target", [](SlotCellInputs& in) { in.isJumpTarget = true; }, kOrange, 1},
        {"learn", [](SlotCellInputs& in) { in.midiLearnHighlight = true; }, kGreen, 1},
        {"jump pick", [](SlotCellInputs& in) { in.isJumpHighlight = true; }, kOrange, 1},
        {"replace",
         [](SlotCellInputs& in) {
             in.isJumpHighlight = true;
             in.isReplaceMode = true;
         },
         kCyan, 1},
    };
    for (const auto& c : cases) {
        SlotCellInputs in = loaded();
        c.set(in);
        const QImage image = paint(in);
        // Along the left edge, half-way down, and along the top edge.
        for (int i = 0; i < c.inside; ++i) {
            EXPECT_TRUE(near(image.pixelColor(i, kH / 2), c.color, 10)) << c.name << " x=" << i;
            EXPECT_TRUE(near(image.pixelColor(kW / 2 + 30, i), c.color, 10))
                << c.name << " y=" << i;
        }
        EXPECT_FALSE(near(image.pixelColor(c.inside + 1, kH / 2), c.color, 40)) << c.name;
    }
}

TEST(SlotCellPaint, OnAirAtTheCursorHasAThinBlueLineInsideTheRedFrame) {
    SlotCellInputs in = loaded();
    in.isCurrent = true;
    in.isCursor = true;
    const QImage image = paint(in);
    EXPECT_TRUE(near(image.pixelColor(0, kH / 2), kRed, 10));
    const QColor inner = image.pixelColor(4, kH / 2);
    EXPECT_GT(inner.blue(), inner.red() + 60) << inner.name().toStdString();
    EXPECT_TRUE(near(image.pixelColor(8, kH / 2), grey(0.45), 2));
}

TEST(SlotCellPaint, MissingOnAirShowsRedOverOrange) {
    SlotCellInputs in = loaded();
    in.slot.isFileMissing = true;
    in.isCurrent = true;
    const QImage image = paint(in);
    EXPECT_TRUE(near(image.pixelColor(0, kH / 2), kRed, 10));
    EXPECT_GT(count(image, QRect(6, 6, 14, 14), kOrange), 30);  // the missing badge
}

TEST(SlotCellPaint, BadgesStandInTheirCorners) {
    SlotCellInputs in = loaded();
    in.isJumpTarget = true;
    QImage image = paint(in);
    EXPECT_GT(count(image, QRect(kW - 50, 4, 47, 16), kOrange), 60);  // JUMP, top right
    EXPECT_EQ(count(image, QRect(4, kH - 30, 60, 26), kOrange), 0);

    in = loaded();
    in.midiLearnHighlight = true;
    in.isMIDIArmed = true;
    image = paint(in);
    EXPECT_GT(count(image, QRect(kW / 2 - 40, kH - 22, 80, 17), kGreen), 100);  // LISTENING
    EXPECT_EQ(count(image, QRect(kW / 2 - 30, 6, 60, 20), kGreen), 0);

    in = loaded();
    in.isSelected = true;
    image = paint(in);
    EXPECT_GT(count(image, QRect(6, 6, 16, 16), Qt::white, 20), 60);  // the check mark badge
}

TEST(SlotCellPaint, DurationBadgeHeaderAndThumbnail) {
    SlotCellInputs in = loaded();
    in.slot.clipInfo = ClipInfo{};
    in.slot.clipInfo->duration = 62.5;
    in.slot.clipInfo->fps = 25;
    QImage image = paint(in);
    // The badge's box starts 4 points in: black at 0.6 over the background.
    EXPECT_TRUE(near(image.pixelColor(5, 5), over(QColor(0, 0, 0, 153), grey(0.28)), 3));
    EXPECT_TRUE(near(image.pixelColor(3, 3), grey(0.28), 2));
    // The header strip along the bottom: black at 0.45 over the background.
    EXPECT_TRUE(near(image.pixelColor(kW - 30, kH - 2), over(QColor(0, 0, 0, 115), grey(0.28)), 3));

    auto thumb = std::make_shared<QImage>(8, 4, QImage::Format_RGB32);
    thumb->fill(QColor(200, 30, 160));
    in.thumbnail = thumb;
    image = paint(in);
    EXPECT_TRUE(near(image.pixelColor(kW / 2, kH / 2), QColor(200, 30, 160), 2));
    EXPECT_TRUE(near(image.pixelColor(kW - 3, 40), QColor(200, 30, 160), 2));  // stretched
}

TEST(SlotCellPaint, MIDILabelsInTheCentre) {
    SlotCellInputs in = loaded();
    in.showMIDILabel = true;
    in.slot.midiBindings = std::vector<MIDINoteBinding>{{1, 60}, {2, 62}, {3, 64}, {4, 65}};
    const QImage image = paint(in);
    EXPECT_GT(count(image, QRect(kW / 2 - 50, kH / 2 - 35, 100, 70), kGreen, 30), 50);
}

}  // namespace
}  // namespace kestio::grid

namespace kestio::grid {
namespace {

// The cached drawing of a cell shows what painting through the rounded clip shows, and nothing
// outside the rounded corners.
TEST(SlotCellPaint, TheCachedDrawingMatchesAndCutsItsCorners) {
    SlotCellInputs in;
    in.language = AppLanguage::en;
    in.slot.videoURL = "/media/a.mp4";
    in.slot.name = "01_A";
    in.isCurrent = true;
    in.isCursor = true;
    const QImage drawn = renderSlotCell(QSize(184, 118), 1.0, cellLook(in));
    QImage painted(184, 118, QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    {
        QPainter painter(&painted);
        paintSlotCell(painter, QSizeF(184, 118), cellLook(in));
    }
    EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(drawn.pixel(183, 117)), 0);
    for (const QPoint p : {QPoint(92, 50), QPoint(0, 59), QPoint(4, 59), QPoint(92, 110)}) {
        EXPECT_TRUE(test::near(drawn.pixelColor(p), painted.pixelColor(p), 3))
            << p.x() << "," << p.y();
    }
    // Twice the scale: the same picture at twice the pixels.
    const QImage sharp = renderSlotCell(QSize(368, 236), 2.0, cellLook(in));
    EXPECT_TRUE(test::near(sharp.pixelColor(1, 118), drawn.pixelColor(0, 59), 3));
    EXPECT_TRUE(test::near(sharp.pixelColor(184, 100), drawn.pixelColor(92, 50), 3));
}

}  // namespace
}  // namespace kestio::grid
