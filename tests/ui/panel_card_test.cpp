#include "ui/panel_card.h"

#include <gtest/gtest.h>

#include <QLabel>

#include "ui/loaded_slot.h"
#include "ui/palette.h"
#include "ui_test_support.h"

namespace kestio::ui {
namespace {

TEST(PanelCard, DerivesTheLoadedSlotFromBothIndices) {
    struct Case {
        std::optional<int> bank, slot;
        LoadedSlot expected;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, {false, 0, 0}},
        {3, std::nullopt, {false, 3, 0}},
        {std::nullopt, 5, {false, 0, 5}},
        {3, 5, {true, 3, 5}},
        {0, 0, {true, 0, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(loadedSlot(c.bank, c.slot), c.expected);
    }
}

// Every card fills its rectangle with its grey, the player's darker than the rest, with rounded
// corners and its content at the top, leading-aligned or centred inside the padding.
TEST(PanelCard, PaintsItsGreyWithRoundedCornersAndStacksFromTheTop) {
    struct Case {
        const char* name;
        PanelCardStyle style;
        int grey;
    };
    const Case cases[] = {
        {"toolbar", PanelCardStyle::toolbar(), 41},
        {"bank_list", PanelCardStyle::bankList(), 41},
        {"player", PanelCardStyle::player(), 31},
        {"clip_settings", PanelCardStyle::clipSettings(), 41},
        {"audio", PanelCardStyle::audio(), 41},
        {"geometry", PanelCardStyle::geometry(), 41},
        {"eq_color", PanelCardStyle::eqColor(), 41},
    };
    const QColor canvas(107, 107, 107);  // the window's grey behind the cards
    for (const auto& c : cases) {
        PanelCard card(c.style);
        auto* block = new QWidget;
        block->setFixedSize(40, 20);
        block->setAutoFillBackground(true);
        QPalette p = block->palette();
        p.setColor(QPalette::Window, Qt::red);
        block->setPalette(p);
        card.addContent(block);
        card.show();
        const QImage image = test::render(card, canvas);
        test::saveShot(image, QStringLiteral("panel_card_%1").arg(c.name));
        ASSERT_EQ(image.size(), c.style.size) << c.name;
        const int pad = c.style.padding;
        const QColor cardGrey(c.grey, c.grey, c.grey);
        EXPECT_TRUE(test::near(image.pixelColor(3, image.height() / 2), cardGrey)) << c.name;
        EXPECT_TRUE(test::near(image.pixelColor(image.width() - 2, image.height() - 8), cardGrey));
        // The corner lies outside the radius-6 rounding.
        EXPECT_TRUE(test::near(image.pixelColor(0, 0), canvas)) << c.name;
        EXPECT_TRUE(test::near(image.pixelColor(image.width() - 1, image.height() - 1), canvas));
        // The content: at the top, inside the padding.
        const int x =
            c.style.alignment == PanelCardStyle::Alignment::leading ? pad + 20 : image.width() / 2;
        EXPECT_EQ(image.pixelColor(x, pad + 10), QColor(Qt::red)) << c.name;
        EXPECT_TRUE(test::near(image.pixelColor(x, pad - 1), cardGrey)) << c.name;
        EXPECT_TRUE(test::near(image.pixelColor(x, pad + 21), cardGrey)) << c.name;
        if (c.style.alignment == PanelCardStyle::Alignment::leading) {
            EXPECT_TRUE(test::near(image.pixelColor(pad - 1, pad + 10), cardGrey)) << c.name;
            EXPECT_EQ(image.pixelColor(pad, pad + 10), QColor(Qt::red)) << c.name;
        }
    }
}

TEST(PanelCard, CutsContentTallerThanItself) {
    PanelCard card(PanelCardStyle::geometry());
    auto* tall = new QWidget;
    tall->setFixedSize(100, 400);
    tall->setAutoFillBackground(true);
    QPalette p = tall->palette();
    p.setColor(QPalette::Window, Qt::blue);
    tall->setPalette(p);
    card.addContent(tall);
    card.show();
    EXPECT_EQ(card.size(), QSize(397, 116));
    const QImage image = test::render(card);
    EXPECT_EQ(image.pixelColor(card.width() / 2, 110), QColor(Qt::blue));
}

}  // namespace
}  // namespace kestio::ui
