// The MIDI status panel over the MIDI controllers on the in-memory MIDI system: ports that come
// and go, duplicated, empty and very long names.

#include <gtest/gtest.h>

#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "app/main_view_wiring.h"
#include "app/midi_status_panel.h"
#include "app/sound_output_status.h"
#include "platform/storage/notification_center.h"
#include "side_panel_fixture.h"

namespace kestio::app {
namespace {

using test::near;
using test::setLanguage;

TEST(MidiStatusText, EffectiveDestinationFallback) {
    const std::vector<std::string> ab = {"A", "B"};
    EXPECT_EQ(effectiveDestination(std::nullopt, ab), "A");
    EXPECT_EQ(effectiveDestination(std::string("B"), ab), "B");
    EXPECT_EQ(effectiveDestination(std::nullopt, {}), std::nullopt);
}

class MidiStatusPanelTest : public test::SidePanelFixture {
  protected:
    MidiStatusPanelTest() {
        midi.start();
        midiOut.setup();
    }

    MIDIStatusPanel panel{midi, midiOut, QSize(397, 70)};
    platform::NotificationCenter notifications{&loop};

    void click(QRectF rect) {
        QTest::mouseClick(&panel, Qt::LeftButton, {}, rect.center().toPoint());
    }
    // Turns the mouse wheel over the source list by `notches` (negative: towards the end), on
    // the panel as shown.
    void wheel(int notches) {
        panel.show();
        QWidget* viewport = panel.sourceList().viewport();
        const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
        QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    }
    // True when a source row's green dot is drawn at height y of the panel.
    static bool dotAt(const QImage& image, int y) {
        const QColor c = image.pixelColor(10, y);
        return c.green() > c.red() + 60;
    }
    // Lets the controllers hear of the set-up change the system announced.
    void announce() { loop.runPending(); }
    std::vector<std::string> menuTexts() {
        std::vector<std::string> texts;
        for (const auto& e : panel.model().destinationMenu()) {
            texts.push_back((e.checked ? "✓" : "") + e.text + (e.enabled ? "" : " (off)"));
        }
        return texts;
    }
};

TEST_F(MidiStatusPanelTest, NoSources) {
    EXPECT_FALSE(panel.model().hasSources());
    EXPECT_EQ(panel.model().destinationLabel(), "Not Connected");
    EXPECT_EQ(menuTexts(), std::vector<std::string>{"No destination found (off)"});
    const QImage image = shots(panel, "midi_status_no_sources");
    EXPECT_TRUE(near(image.pixelColor(200, 0), ui::palette::white(0.28), 12));
    EXPECT_TRUE(near(image.pixelColor(10, 70 - 10), ui::palette::white(0.3), 12));  // output dot
    setLanguage(AppLanguage::ja);
    EXPECT_EQ(panel.model().destinationLabel(), "未接続");
    EXPECT_EQ(menuTexts(), std::vector<std::string>{"送信先が見つかりません (off)"});
}

TEST_F(MidiStatusPanelTest, SourcesBorderGreenEvenWhenOff) {
    midiSystem.addSource(std::string("Launch Pad"));
    midiSystem.addSource(std::nullopt);
    announce();
    EXPECT_EQ(panel.model().sources(), (std::vector<std::string>{"Launch Pad", "MIDI Device"}));
    click(panel.toggleRect());
    EXPECT_FALSE(midi.isEnabled.get());
    EXPECT_EQ(panel.model().sources().size(), 2u);  // still listed and connected
    const QImage image = shots(panel, "midi_status_sources_off");
    const QColor border = image.pixelColor(200, 0);
    EXPECT_GT(border.green(), border.red() + 40);
    click(panel.toggleRect());
    EXPECT_TRUE(midi.isEnabled.get());
    shots(panel, "midi_status_sources_on");
}

// Five sources in a list with room for two: the wheel scrolls it row by row to the fifth and
// back; a list that fits does not scroll.
TEST_F(MidiStatusPanelTest, TheSourceListScrollsToItsLastSource) {
    std::vector<std::string> ids;
    for (const char* name : {"One", "Two", "Three", "Four", "Fifth source"}) {
        ids.push_back(midiSystem.addSource(std::string(name)));
    }
    announce();
    ASSERT_FALSE(panel.sourceList().isHidden());
    // The first two rows' dots at 31.5 and 43.5; nothing between them.
    const QImage top = shots(panel, "midi_status_five_sources_top");
    EXPECT_TRUE(dotAt(top, 31));
    EXPECT_FALSE(dotAt(top, 40));
    QScrollBar& bar = *panel.sourceList().verticalScrollBar();
    wheel(-1);
    EXPECT_GT(bar.value(), 0);
    wheel(-10);
    EXPECT_EQ(bar.value(), bar.maximum());
    // At the end the fourth and fifth rows show, the fifth ending 3 points above the divider.
    const QImage end = shots(panel, "midi_status_five_sources_end");
    EXPECT_TRUE(dotAt(end, 28));
    EXPECT_TRUE(dotAt(end, 40));
    EXPECT_FALSE(dotAt(end, 34));
    wheel(10);
    EXPECT_EQ(bar.value(), 0);

    for (int i = 4; i >= 1; --i) {
        midiSystem.removeSource(ids[std::size_t(i)]);
    }
    announce();
    wheel(-10);
    EXPECT_EQ(bar.value(), 0);  // one row fits
    midiSystem.removeSource(ids[0]);
    announce();
    EXPECT_TRUE(panel.sourceList().isHidden());
}

TEST_F(MidiStatusPanelTest, EffectiveDestinationFallback) {
    const std::string a = midiSystem.addDestination(std::string("A"));
    const std::string b = midiSystem.addDestination(std::string("B"));
    announce();
    EXPECT_EQ(panel.model().destinationLabel(), "A");
    EXPECT_EQ(menuTexts(), (std::vector<std::string>{"✓A", "B"}));
    panel.model().destinationMenu()[1].action();
    EXPECT_EQ(midiOut.selectedDestinationName.get(), "B");
    EXPECT_EQ(panel.model().destinationLabel(), "B");
    EXPECT_EQ(menuTexts(), (std::vector<std::string>{"A", "✓B"}));
    const QImage image = shots(panel, "midi_status_destination");
    EXPECT_TRUE(near(image.pixelColor(10, 70 - 10), ui::palette::orange(), 20));

    midiSystem.removeDestination(b);
    click(panel.refreshDestinationsRect());
    EXPECT_EQ(panel.model().destinationLabel(), "A");
    midiSystem.removeDestination(a);
    click(panel.refreshDestinationsRect());
    EXPECT_EQ(panel.model().destinationLabel(), "Not Connected");
}

TEST_F(MidiStatusPanelTest, ToggleFlipsEnabledAndMarksUnsaved) {
    MainViewWiring wiring(MainViewWiring::Services{.show = *show,
                                                   .playback = playback,
                                                   .notifications = notifications,
                                                   .delegate = nullptr,
                                                   .midi = midi,
                                                   .midiOut = midiOut,
                                                   .keyboard = keyboard,
                                                   .installProjectProvider = {},
                                                   .installLayerLog = {}});
    click(panel.toggleRect());
    EXPECT_FALSE(show->project().midiInputEnabled);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

TEST_F(MidiStatusPanelTest, PortsThatComeAndGoWithOddNames) {
    const std::string longName(500, 'M');
    midiSystem.addSource(std::string("Pad"));
    midiSystem.addSource(std::string("Pad"));
    midiSystem.addSource(std::string(""));
    const std::string gone = midiSystem.addSource(longName);
    midiSystem.addDestination(std::string("Out"));
    midiSystem.addDestination(std::string("Out"));
    announce();
    // Listed by position: both "Pad"s are shown, two at a time; the wheel brings the fourth
    // into view at the bottom of the list.
    EXPECT_EQ(panel.model().sources().size(), 4u);
    wheel(-3);
    const QImage end = test::render(panel);
    EXPECT_TRUE(dotAt(end, 40)) << "the fourth source is not in view";
    // Chosen by name: the first "Out" carries the check mark.
    EXPECT_EQ(menuTexts(), (std::vector<std::string>{"✓Out", "Out"}));
    shots(panel, "midi_status_odd_names");
    midiSystem.removeSource(gone);
    announce();
    EXPECT_EQ(panel.model().sources().size(), 3u);
    click(panel.refreshSourcesRect());
    EXPECT_EQ(panel.model().sources().size(), 3u);
}

// What the header says of the sound output as its device loses the server, keeps trying it and
// has it back: the notice, its text in both languages and its dot's colour, "back" for a few
// seconds only, and nothing while the output simply plays.
TEST_F(MidiStatusPanelTest, SaysWhatHappensToTheSoundOutput) {
    using platform::audio::OutputConnection;
    using Notice = SoundOutputStatus::Notice;
    platform::Published<OutputConnection> connection{OutputConnection::connected};
    SoundOutputStatus sound(loop, connection);
    MIDIStatusPanel withSound{midi, midiOut, QSize(397, 70), &sound};
    struct Step {
        std::optional<OutputConnection> told;  // what the device says, if anything
        double later;                          // then this much time passes
        Notice notice;
        std::string en;
        std::string ja;
        QColor dot;
        const char* shot;
    };
    const Step steps[] = {
        {std::nullopt, 0.0, Notice::none, "", "", ui::palette::white(0.18), nullptr},
        {OutputConnection::connected, 0.0, Notice::none, "", "", ui::palette::white(0.18), nullptr},
        {OutputConnection::lost, 0.0, Notice::lost, "Audio output disconnected",
         "オーディオ出力が切断されました", ui::palette::red(), "midi_status_sound_lost"},
        {OutputConnection::reconnecting, 30.0, Notice::reconnecting, "Reconnecting audio output…",
         "オーディオ出力を再接続中…", ui::palette::orange(), "midi_status_sound_reconnecting"},
        {OutputConnection::connected, SoundOutputStatus::kBackSeconds - 0.1, Notice::back,
         "Audio output reconnected", "オーディオ出力が再接続されました", ui::palette::green(),
         "midi_status_sound_back"},
        {std::nullopt, 0.2, Notice::none, "", "", ui::palette::white(0.18), nullptr},
        {OutputConnection::lost, 0.0, Notice::lost, "Audio output disconnected",
         "オーディオ出力が切断されました", ui::palette::red(), nullptr},
        {OutputConnection::connected, 1.0, Notice::back, "Audio output reconnected",
         "オーディオ出力が再接続されました", ui::palette::green(), nullptr},
    };
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("step " + std::to_string(index++));
        if (step.told) {
            connection = *step.told;
        }
        loop.advance(step.later);
        EXPECT_EQ(sound.notice.get(), step.notice);
        EXPECT_EQ(SoundOutputStatus::text(step.notice), step.en);
        setLanguage(AppLanguage::ja);
        EXPECT_EQ(SoundOutputStatus::text(step.notice), step.ja);
        setLanguage(AppLanguage::en);
        const QImage image =
            step.shot ? shots(withSound, step.shot) : test::render(withSound, QColor(41, 41, 41));
        const QRectF notice = withSound.soundNoticeRect();
        EXPECT_TRUE(
            near(image.pixelColor(QPointF(notice.left() + 3.5, notice.center().y()).toPoint()),
                 step.dot, 20))
            << image.pixelColor(QPointF(notice.left() + 3.5, notice.center().y()).toPoint())
                   .name()
                   .toStdString();
    }
    // A device whose server is not there from the start is lost at once.
    platform::Published<OutputConnection> never{OutputConnection::lost};
    EXPECT_EQ(SoundOutputStatus(loop, never).notice.get(), Notice::lost);
}

}  // namespace
}  // namespace kestio::app
