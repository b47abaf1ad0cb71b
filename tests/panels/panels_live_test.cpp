// The three panels on the application's real parts: the show controller, the playback
// controller with its output surface on real decoding, and the audio engine on the null device
// (the test pulls its sound). Each panel drives and reads the real controllers.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <cmath>
#include <memory>

#include "live_panels_rig.h"
#include "output/test_tone.h"
#include "panels/audio_level_scale.h"
#include "panels/audio_section.h"
#include "panels/clip_settings_panel.h"
#include "panels/editable_value_label.h"
#include "panels/meter_bar_view.h"
#include "panels/player_panel.h"
#include "panels/styled_button.h"
#include "panels/vertical_fader.h"
#include "panels/vu_meter_view.h"
#include "platform/ui/layer_view.h"
#include "support/frame_number_strip.h"
#include "support/signal_analysis.h"
#include "typed_value.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

class PanelsOnRealParts : public LivePanelsRig {};

// The timecode of a 29.97 clip paused in the program reads the frame the picture shows: the
// clip's own frame number, read from the player panel's program view, is the frame counted at
// 30 a second (within the one frame that counting 30 frames a second of media time allows).
TEST_F(PanelsOnRealParts, PlayerTimecodeReadsTheFrameUnderThePlayhead) {
    ui::PanelCard card(ui::PanelCardStyle::player());
    auto* panel = new PlayerPanel(facade, loop, card);
    card.show();
    ASSERT_NE(panel->programView(), nullptr);
    playClip(0, 0);
    EXPECT_TRUE(panel->state().loaded);
    EXPECT_EQ(panel->state().formatInfo, "[320x180 29.97fps]");
    for (double at : {0.9, 1.7}) {
        SCOPED_TRACE(at);
        show->pausePlayback();
        controller.seek(at);
        auto& presenter = panel->programView()->presenter();
        int shown = -1;
        ASSERT_TRUE(runUntil([&] {
            presenter.waitForNewFrame(0.2);
            shown = test::readFrameNumber(presenter.newestFrame().image);
            return shown == static_cast<int>(std::floor(at * clip.frameRate.value() + 1e-9));
        }));
        const QString tc = panel->state().position.left(11);
        const QStringList fields = tc.split(';');
        ASSERT_EQ(fields.size(), 4) << tc.toStdString();
        const int counted = fields[2].toInt() * 30 + fields[3].toInt();
        EXPECT_LE(std::abs(counted - shown), 1) << tc.toStdString() << " shows frame " << shown;
        test::saveShot(test::render(card, ui::palette::white(0.42)),
                       QStringLiteral("player_live_%1").arg(static_cast<int>(at * 10)));
        show->pausePlayback();  // resumes
    }
    // STOP blacks out: nothing loaded, the header back at zero.
    QTest::mouseClick(panel->stopButton(), Qt::LeftButton);
    runFor(0.1);
    EXPECT_FALSE(panel->state().loaded);
    EXPECT_EQ(panel->state().remaining, "00;00;00;00");
}

// A typed rate reaches the project, the unsaved mark and the player on air.
TEST_F(PanelsOnRealParts, SettingsPanelRateReachesThePlayer) {
    ui::PanelCard card(ui::PanelCardStyle::clipSettings());
    auto* settingsPanel = new ClipSettingsPanel(facade, card);
    card.show();
    playClip(1, 2);
    test::typeInto(settingsPanel->rateField(), "x1.5");
    EXPECT_EQ(show->project().banks[1].slots[2].playRate, 1.5);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_FLOAT_EQ(controller.view().showingSlot().player()->rateValue(), 1.5f);
    QTest::mouseClick(settingsPanel->resetButton(), Qt::LeftButton);
    EXPECT_FLOAT_EQ(controller.view().showingSlot().player()->rateValue(), 1.0f);
}

// The level of the engine's output follows the fader: dragged from 0 dB to -20 dB, the clip's
// tone measured in the pulled sound falls by 20 dB. A -20 dBFS test tone then lights the meter
// bar to the -20 dB mark of the scale.
TEST_F(PanelsOnRealParts, FaderSetsTheEngineLevelAndTheMeterShowsATone) {
    ui::PanelCard card(ui::PanelCardStyle::audio());
    auto* section = new AudioSection(facade, loop, card);
    card.show();
    playClip(0, 3);
    const auto level = [&] {
        device->clearCaptured();
        runFor(0.2);
        return test::rmsDb(device->channel(0));
    };
    const double before = level();
    EXPECT_NEAR(before, 20.0 * std::log10(test::kToneAmplitude / std::sqrt(2.0)), 1.0);

    auto* fader = section->fader();
    const int y = static_cast<int>(std::lround(travelY(fader->height(), faderPosition(-20.0))));
    QTest::mousePress(fader, Qt::LeftButton, {}, QPoint(20, y));
    QTest::mouseRelease(fader, Qt::LeftButton, {}, QPoint(20, y));
    const float gain = show->project().banks[0].slots[3].audioSettings.masterLevel;
    EXPECT_NEAR(gain, -20.0, 0.3);
    runFor(0.05);  // the new level glides in first
    EXPECT_NEAR(level() - before, gain, 0.5);

    // The tone alone, at -20 dBFS peak, in peak metering.
    QTest::mouseClick(section->muteButton(), Qt::LeftButton);  // the clip goes silent
    controller.toneGen().start(controller.view().sharedEngine(), -20.0);
    ASSERT_TRUE(runUntil([&] { return std::abs(section->meter()->levels()[0] + 20.0f) < 0.5f; }));
    MeterBarView* bar = section->meter()->bar(0);
    const QImage image = test::render(*bar);
    // The lit part rises from the bottom without a gap (the held peak's line stands apart).
    const auto lit = [&](int row) { return qGreen(image.pixel(image.width() / 2, row)) > 120; };
    int row = image.height() - 1;
    while (row > 0 && !lit(row)) {
        --row;
    }
    while (row > 0 && lit(row - 1)) {
        --row;
    }
    const int litTop = row;
    EXPECT_NEAR(litTop, travelY(bar->height(), meterPosition(-20.0f)), 2.0);
    controller.toneGen().stop(controller.view().sharedEngine());
}

}  // namespace
}  // namespace kestio::panels
