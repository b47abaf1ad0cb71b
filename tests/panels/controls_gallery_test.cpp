// The audio and settings panel controls side by side in an audio card, in both languages, for a
// person to look at; probes check that each control landed where it was put.
#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "model/localization_manager.h"
#include "panels/compact_slider.h"
#include "panels/editable_value_label.h"
#include "panels/eq_band_slider.h"
#include "panels/meter_bar_view.h"
#include "panels/vertical_fader.h"
#include "panels/vu_meter_view.h"
#include "panels/vu_scale_labels.h"
#include "platform/runloop/manual_run_loop.h"
#include "ui/fitted_label.h"
#include "ui/fonts.h"
#include "ui/number_text.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

TEST(ControlsGallery, AudioCardInBothLanguages) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ja}) {
        test::setLanguage(language);
        platform::ManualRunLoop loop;
        ui::PanelCard card(ui::PanelCardStyle::audio());

        auto* title = new ui::FittedLabel;
        title->setFont(ui::fonts::system(13, QFont::DemiBold));
        title->setColor(ui::palette::white(0.75));
        title->setAlignment(Qt::AlignCenter);
        title->setMinimumScale(0.7);
        title->setText(QString::fromStdString(
            L("スロットゲインとレベルメーター", "Slot gain and level meters")));
        title->setFixedSize(200, 18);
        card.addContent(title);

        auto* row = new QWidget;
        row->setFixedSize(340, 215);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(6);
        auto* fader = new VerticalFader(ui::Binding<double>::stored(0.0), {-40.0, 12.0});
        fader->setFixedWidth(40);
        auto* scale = new VUScaleLabels(VUScaleLabels::standardTicks());
        scale->setFixedWidth(36);
        auto* meter = new VUMeterView(loop);
        meter->setFixedWidth(120);
        meter->setActiveChannels(6);
        meter->setLevels({-39.9f, -40.0f, 0.0f, 12.0f, -6.0f, -20.0f, -3.0f, -3.0f});
        meter->setLevels({-39.9f, -40.0f, -12.0f, 12.0f, -10.0f, -20.0f, -3.0f, -3.0f});
        auto* eqUp = new EQBandSlider(ui::Binding<double>::stored(5.0));
        eqUp->setFixedWidth(20);
        auto* eqDown = new EQBandSlider(ui::Binding<double>::stored(-5.0));
        eqDown->setFixedWidth(20);
        rowLayout->addWidget(fader);
        rowLayout->addWidget(scale);
        rowLayout->addWidget(meter);
        rowLayout->addWidget(eqUp);
        rowLayout->addWidget(eqDown);
        rowLayout->addStretch(1);
        card.addContent(row);

        for (bool enabled : {true, false}) {
            auto* line = new QWidget;
            line->setFixedSize(340, 20);
            auto* lineLayout = new QHBoxLayout(line);
            lineLayout->setContentsMargins(0, 0, 0, 0);
            auto* slider = new CompactSlider(ui::Binding<double>::stored(1.6), {0.033, 5.0},
                                             ui::palette::blue(), 3, 12);
            auto* value = new EditableValueLabel(
                ui::Binding<double>::stored(1.6), {0.033, 5.0},
                [](double v) { return ui::formatFixedQ(v, 2) + QStringLiteral(" s"); },
                [](const QString& t) { return ui::parseNumberTrimming(t, "sS "); },
                ui::fonts::monospaced(14), 52);
            lineLayout->addWidget(slider, 1);
            lineLayout->addWidget(value);
            line->setEnabled(enabled);
            card.addContent(line);
        }
        card.show();
        const QImage image = test::render(card, ui::palette::white(0.42));
        const bool en = language == AppLanguage::en;
        test::saveShot(image, QStringLiteral("controls_gallery_%1").arg(en ? "en" : "ja"));

        // The fader's knob line at 0 dB, in the card's coordinates.
        const QPoint knobLine = fader->mapTo(&card, QPoint(20, 71));
        EXPECT_GT(qGray(image.pixel(knobLine)), 200);
        // The meter's first channel lit at the bottom; six channels active, the seventh grey.
        const QPoint litBottom = meter->bar(0)->mapTo(&card, QPoint(4, 210));
        EXPECT_TRUE(test::near(image.pixelColor(litBottom), ui::palette::green()));
        const QPoint inactive = meter->bar(6)->mapTo(&card, QPoint(4, 100));
        EXPECT_EQ(image.pixelColor(inactive), QColor(31, 31, 31));
        // The card's padding.
        EXPECT_TRUE(test::near(image.pixelColor(3, 160), QColor(41, 41, 41)));
    }
}

}  // namespace
}  // namespace kestio::panels
