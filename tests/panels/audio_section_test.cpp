// The audio section on a recording facade: the gain readout's texts, what the fader, the typed
// gain, MUTE and the meter mode write and call, and screenshots.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <cmath>

#include "panels/audio_level_scale.h"
#include "panels/audio_section.h"
#include "panels/editable_value_label.h"
#include "panels/meter_bar_view.h"
#include "panels/styled_button.h"
#include "panels/vertical_fader.h"
#include "panels/vu_meter_view.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/recording_panel_facade.h"
#include "typed_value.h"
#include "ui/fitted_label.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

using Calls = std::vector<std::string>;

TEST(AudioSectionText, GainFormatAndParse) {
    EXPECT_EQ(gain::format(-40.0), "-∞ dB");
    EXPECT_EQ(gain::format(-55.0), "-∞ dB");
    EXPECT_EQ(gain::format(-39.96), "-40.0 dB");
    EXPECT_EQ(gain::format(0.0), "+0.0 dB");
    EXPECT_EQ(gain::format(-6.5), "-6.5 dB");
    EXPECT_EQ(gain::format(12.0), "+12.0 dB");
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    for (const auto& c :
         {Case{"-6dB", -6.0}, Case{"-6 db", -6.0}, Case{"\t-6 ", -6.0}, Case{"+20", 20.0},
          Case{"dB", std::nullopt}, Case{"-6 x", std::nullopt}, Case{"-6,5", std::nullopt}}) {
        EXPECT_EQ(gain::parse(QString::fromUtf8(c.text)), c.value) << c.text;
    }
}

class AudioSectionTest : public ::testing::Test {
  protected:
    AudioSectionTest() {
        test::setLanguage(AppLanguage::en);
        card.show();
    }
    void typeGain(const QString& text) { test::typeInto(section->gainField(), text); }

    platform::ManualRunLoop loop;
    test::RecordingPanelFacade facade;
    ui::PanelCard card{ui::PanelCardStyle::audio()};
    AudioSection* section = new AudioSection(facade, loop, card);
};

TEST_F(AudioSectionTest, NothingLoaded) {
    EXPECT_FALSE(section->showsGainField());
    EXPECT_EQ(section->gainReadoutText(), "+0.0 dB");
    EXPECT_FALSE(section->fader()->isEnabled());
    QTest::mousePress(section->fader(), Qt::LeftButton, {}, QPoint(20, 40));
    EXPECT_EQ(facade.calls, Calls{});
    // MUTE works without a slot.
    QTest::mouseClick(section->muteButton(), Qt::LeftButton);
    EXPECT_EQ(facade.calls, Calls{"toggleMute none"});
    EXPECT_FALSE(facade.unsaved);
}

// A fader drag writes the gain of the pointer's height, marks unsaved, then applies the slot's
// volume, once per movement.
TEST_F(AudioSectionTest, FaderDragWritesThenApplies) {
    facade.setLoaded(9, 20);
    auto* fader = section->fader();
    const double h = fader->height();
    const double zeroDb = travelY(h, faderPosition(0.0));
    QTest::mousePress(fader, Qt::LeftButton, {}, QPoint(20, static_cast<int>(std::lround(zeroDb))));
    const double first = facade.slot(9, 20).audioSettings.masterLevel;
    EXPECT_NEAR(first, 0.0, 0.3);
    const double minus20 = travelY(h, faderPosition(-20.0));
    QMouseEvent move(QEvent::MouseMove, QPointF(20, minus20),
                     fader->mapToGlobal(QPointF(20, minus20)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(fader, &move);
    const float second = facade.slot(9, 20).audioSettings.masterLevel;
    EXPECT_NEAR(second, -20.0, 0.3);
    // The show's slot edit hands the level to the clip on air; the panel only writes.
    EXPECT_EQ(facade.calls, (Calls{"edit 9 20", "unsaved", "edit 9 20", "unsaved"}));
    EXPECT_EQ(facade.slot(0, 20).audioSettings.masterLevel, 0.0f);
}

TEST_F(AudioSectionTest, TypedGains) {
    facade.setLoaded(0, 5);
    ASSERT_TRUE(section->showsGainField());
    struct Case {
        const char* typed;
        float value;  // 3: unchanged
    };
    for (const auto& c :
         {Case{"-6dB", -6.0f}, Case{"+20", 12.0f}, Case{"1e400", 12.0f}, Case{"-1e400", -40.0f},
          Case{"nan", 3.0f}, Case{"", 3.0f}, Case{"-0", 0.0f}, Case{"１２", 3.0f},
          Case{"3,5", 3.0f}, Case{"dB", 3.0f}}) {
        facade.slot(0, 5).audioSettings.masterLevel = 3.0f;
        facade.calls.clear();
        typeGain(QString::fromUtf8(c.typed));
        EXPECT_EQ(facade.slot(0, 5).audioSettings.masterLevel, c.value) << c.typed;
        EXPECT_FALSE(std::isnan(facade.slot(0, 5).audioSettings.masterLevel));
        if (c.value != 3.0f) {
            EXPECT_EQ(facade.calls, (Calls{"edit 0 5", "unsaved"})) << c.typed;
        } else {
            EXPECT_EQ(facade.calls, Calls{}) << c.typed;
        }
    }
}

// The readout of a gain set from outside (a fader drag, another slot loaded) shows the whole
// text with its sign, whatever it showed before: a cut of -11.9 dB never reads "11.9 dB".
TEST_F(AudioSectionTest, TheGainReadoutShowsTheWholeTextOfAnyGain) {
    facade.setLoaded(0, 5);
    QCoreApplication::sendPostedEvents();  // the first layout
    for (const float level : {-11.9f, -39.9f, 12.0f, -40.0f}) {
        SCOPED_TRACE(level);
        facade.slot(0, 5).audioSettings.masterLevel = level;
        facade.setLoaded(0, 5);
        QCoreApplication::sendPostedEvents();
        const EditableValueLabel* field = section->gainField();
        const QString text = field->displayText();
        EXPECT_EQ(text, gain::format(level));
        EXPECT_GE(field->width(), QFontMetrics(field->font()).horizontalAdvance(text));
    }
}

// A slot muted on its own shows "clip muted"; the fader still edits it and the volume applied
// carries the slot's mute.
TEST_F(AudioSectionTest, ClipMutedReadout) {
    facade.slot(2, 2).audioSettings.isMuted = true;
    facade.slot(2, 2).audioSettings.masterLevel = -6.0f;
    facade.setLoaded(2, 2);
    EXPECT_FALSE(section->showsGainField());
    EXPECT_EQ(section->gainReadoutText(), "clip muted");
    EXPECT_TRUE(section->fader()->isEnabled());
    QTest::mousePress(section->fader(), Qt::LeftButton, {}, QPoint(20, 30));
    EXPECT_EQ(facade.calls, (Calls{"edit 2 2", "unsaved"}));
    EXPECT_TRUE(facade.slot(2, 2).audioSettings.isMuted);
    EXPECT_NE(facade.slot(2, 2).audioSettings.masterLevel, -6.0f);
    // MUTE hands the loaded slot's settings and touches nothing in the project.
    facade.calls.clear();
    QTest::mouseClick(section->muteButton(), Qt::LeftButton);
    ASSERT_EQ(facade.calls.size(), 1u);
    EXPECT_EQ(facade.calls[0].rfind("toggleMute 1 ", 0), 0u);
}

TEST_F(AudioSectionTest, MuteLooksAndLearn) {
    EXPECT_EQ(section->muteButton()->text(), "MUTE");
    facade.isMuted() = true;
    EXPECT_EQ(section->muteButton()->text(), "MUTED");
    const QImage image = test::render(card);
    const QPoint inside = section->muteButton()->mapTo(&card, QPoint(10, 17));
    EXPECT_TRUE(test::near(image.pixelColor(inside), ui::palette::red()));

    facade.isMIDILearnMode() = true;
    QTest::mouseClick(section->muteButton(), Qt::LeftButton);
    EXPECT_EQ(facade.calls, Calls{"arm mute"});
    EXPECT_TRUE(facade.isMuted().get());
}

TEST_F(AudioSectionTest, MeterModeIsRunTimeOnly) {
    EXPECT_EQ(section->modeButton(true)->look().fill, ui::palette::white(0.35));
    QTest::mouseClick(section->modeButton(false), Qt::LeftButton);
    EXPECT_FALSE(facade.isMeterPeak().get());
    EXPECT_EQ(section->modeButton(false)->look().fill, ui::palette::white(0.35));
    EXPECT_EQ(facade.calls, Calls{"meterPeak 0"});
    EXPECT_FALSE(facade.unsaved);
}

TEST_F(AudioSectionTest, LevelsReachTheMeter) {
    facade.vuChannelCount() = 6;
    facade.vuLevels() = std::vector<float>{-20, -20, -6, -6, -100, -100, -100, -100};
    EXPECT_EQ(section->meter()->levels()[0], -20.0f);
    EXPECT_EQ(section->meter()->bar(2)->level(), -6.0f);
    EXPECT_TRUE(section->meter()->bar(6)->inactive());
    facade.outputDeviceName() = "A very long output device name that will not fit (8ch)";
    EXPECT_EQ(section->deviceLine()->text().left(6), "A very");
}

TEST(AudioSectionShots, IdlePlayingAndEditingInBothLanguages) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ja}) {
        test::setLanguage(language);
        const QString suffix = language == AppLanguage::en ? "en" : "ja";
        platform::ManualRunLoop loop;
        test::RecordingPanelFacade facade;
        ui::PanelCard card(ui::PanelCardStyle::audio());
        auto* section = new AudioSection(facade, loop, card);
        card.show();
        test::saveShot(test::render(card, ui::palette::white(0.42)), "audio_idle_" + suffix);
        facade.slot(0, 0).audioSettings.masterLevel = -6.5f;
        facade.setLoaded(0, 0);
        facade.vuLevels() = std::vector<float>{-20, -12, -100, -100, -100, -100, -100, -100};
        test::saveShot(test::render(card, ui::palette::white(0.42)), "audio_playing_" + suffix);
        section->gainField()->beginEditing();
        facade.isMuted() = true;
        test::saveShot(test::render(card, ui::palette::white(0.42)), "audio_editing_" + suffix);
        section->gainField()->cancel();
    }
}

}  // namespace
}  // namespace kestio::panels
