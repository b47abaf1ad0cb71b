#include "ui/text_fit.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetricsF>

#include "ui/fitted_label.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui_test_support.h"

namespace kestio::ui {
namespace {

class FittedLabelTest : public ::testing::Test {
  protected:
    QFont font_ = fonts::system(14, QFont::Normal, AppLanguage::en);
    QString text_ = QStringLiteral("Opening Video Clip");
    double natural_ = QFontMetricsF(font_).horizontalAdvance(text_);
};

TEST_F(FittedLabelTest, FitsInThreeSteps) {
    // Room to spare: full size, whole text.
    EXPECT_EQ(fitText(text_, font_, natural_ + 10, 0.5), (TextFit{1.0, text_}));
    // A little short: shrinks just enough, whole text.
    const TextFit shrunk = fitText(text_, font_, natural_ * 0.8, 0.5);
    EXPECT_NEAR(shrunk.scale, 0.8, 1e-9);
    EXPECT_EQ(shrunk.text, text_);
    // Far too short: the smallest scale, then cut with "…" to the width left at that scale.
    const TextFit cut = fitText(text_, font_, natural_ * 0.3, 0.5);
    EXPECT_EQ(cut.scale, 0.5);
    EXPECT_TRUE(cut.text.endsWith(QChar(0x2026))) << cut.text.toStdString();
    EXPECT_LE(QFontMetricsF(font_).horizontalAdvance(cut.text), natural_ * 0.3 / 0.5);
    // No shrinking allowed: cut at full size.
    const TextFit fixed = fitText(text_, font_, natural_ * 0.8, 1.0);
    EXPECT_EQ(fixed.scale, 1.0);
    EXPECT_TRUE(fixed.text.endsWith(QChar(0x2026)));
    // No width at all: nothing drawn.
    EXPECT_TRUE(fitText(text_, font_, 0.0, 0.5).text.isEmpty());
}

// The label paints its text inside its width however long the text is, in both languages.
TEST_F(FittedLabelTest, PaintsInsideItsWidth) {
    struct Case {
        AppLanguage language;
        QString text;
    };
    const Case cases[] = {
        {AppLanguage::en, QStringLiteral("A very long clip name that cannot fit at all")},
        {AppLanguage::ja, QStringLiteral("とても長いクリップの名前はこの幅に収まらない")},
    };
    for (const auto& c : cases) {
        test::setLanguage(c.language);
        FittedLabel label;
        label.setFont(fonts::system(16));
        label.setMinimumScale(0.6);
        label.setColor(Qt::white);
        label.setText(c.text);
        label.resize(120, 24);
        const QImage image = test::render(label);
        test::saveShot(
            image,
            QStringLiteral("fitted_label_%1").arg(c.language == AppLanguage::en ? "en" : "ja"));
        int lit = 0;
        int rightmost = -1;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qGray(image.pixel(x, y)) > 100) {
                    ++lit;
                    rightmost = std::max(rightmost, x);
                }
            }
        }
        EXPECT_GT(lit, 80) << "text drawn";
        // The end "…" reaches close to the right edge: the text was shrunk, then cut.
        EXPECT_GT(rightmost, 100);
    }
}

TEST(Fonts, JapaneseTextIsSetInNotoSansCjkJp) {
    const QFont ja = fonts::system(13, QFont::Normal, AppLanguage::ja);
    EXPECT_EQ(ja.families().value(0), QStringLiteral("Noto Sans CJK JP"));
    EXPECT_EQ(QFontInfo(ja).family(), QStringLiteral("Noto Sans CJK JP"));
    const QFont en = fonts::system(13, QFont::Normal, AppLanguage::en);
    EXPECT_TRUE(en.families().contains(QStringLiteral("Noto Sans CJK JP")));
    EXPECT_EQ(en.pixelSize(), 13);
    EXPECT_TRUE(QFontInfo(fonts::monospaced(10)).fixedPitch());
}

TEST(Palette, GreysAndOpacities) {
    EXPECT_EQ(palette::white(0.16), QColor(41, 41, 41));
    EXPECT_EQ(palette::white(0.12), QColor(31, 31, 31));
    EXPECT_EQ(palette::white(1.0, 0.85).alpha(), 217);
    EXPECT_EQ(palette::withOpacity(palette::white(1.0, 0.5), 0.5).alpha(), 64);
}

}  // namespace
}  // namespace kestio::ui
