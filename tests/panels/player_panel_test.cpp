// The player panel on a recording facade: what it shows of the loaded slot and the clip on air,
// what its post-roll buttons and STOP write and call, and its letterboxed program picture.

#include <gtest/gtest.h>

#include <QTest>
#include <cmath>
#include <limits>

#include "panels/player_panel.h"
#include "panels/styled_button.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/ui/layer_view.h"
#include "support/recording_panel_facade.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

ClipInfo clipFacts(const char* resolution, double fps) {
    ClipInfo info;
    info.resolution = resolution;
    info.fps = fps;
    return info;
}

using Calls = std::vector<std::string>;

class PlayerPanelTest : public ::testing::Test {
  protected:
    PlayerPanelTest() {
        test::setLanguage(AppLanguage::en);
        card.show();
    }

    // Loads slot (bank, slot) with a clip of `length` seconds at `time`.
    void play(int bank, int slot, double time, double length) {
        facade.setLoaded(bank, slot);
        facade.duration() = length;
        facade.currentTime() = time;
        facade.selectedClipName() = "opening";
    }
    void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

    platform::ManualRunLoop loop;
    test::RecordingPanelFacade facade;
    ui::PanelCard card{ui::PanelCardStyle::player()};
    PlayerPanel* panel = new PlayerPanel(facade, loop, card);
};

TEST_F(PlayerPanelTest, NothingLoaded) {
    const auto& s = panel->state();
    EXPECT_FALSE(s.loaded);
    EXPECT_EQ(s.remaining, "00;00;00;00");
    EXPECT_FALSE(s.remainingRed);
    EXPECT_EQ(s.clipName, "No Selection");
    EXPECT_TRUE(s.formatInfo.isEmpty());
    EXPECT_FALSE(s.postRoll.has_value());
    EXPECT_EQ(s.position, "00;00;00;00 / 00;00;00;00");
    EXPECT_TRUE(s.inPoint.isEmpty());
    EXPECT_TRUE(s.outPoint.isEmpty());
    EXPECT_FALSE(panel->stopButton()->isEnabled());
    // No post-roll button is drawn selected.
    for (auto mode : {PostRollMode::next, PostRollMode::freeze, PostRollMode::loop,
                      PostRollMode::black, PostRollMode::jump}) {
        EXPECT_EQ(panel->postRollButton(mode)->look().strokeWidth, 0.5);
    }
    // Clicks do nothing without a slot: no write, no unsaved mark, no pick.
    click(panel->postRollButton(PostRollMode::jump));
    click(panel->postRollButton(PostRollMode::loop));
    click(panel->stopButton());
    EXPECT_EQ(facade.calls, Calls{});
    EXPECT_FALSE(facade.isSettingJumpTarget().get());
}

// Indices that no longer address a slot of the project (a smaller project opened while a clip
// stayed loaded) count as nothing loaded: nothing is read or written out of range. STOP still
// stops the player.
TEST_F(PlayerPanelTest, StaleIndicesShowNothingLoaded) {
    for (auto [bank, slot] : {std::pair{20, 0}, std::pair{0, 40}, std::pair{-1, 3}}) {
        play(bank, slot, 1.0, 5.0);
        EXPECT_FALSE(panel->state().loaded);
        EXPECT_FALSE(panel->state().remainingRed);
        EXPECT_FALSE(panel->state().postRoll.has_value());
        click(panel->postRollButton(PostRollMode::next));
    }
    EXPECT_EQ(facade.calls, Calls{});
    click(panel->stopButton());
    EXPECT_EQ(facade.calls, Calls{"postRoll black"});
}

// The remaining time turns red for the last ten seconds of a loaded clip, never at 0.
TEST_F(PlayerPanelTest, RemainingRedThreshold) {
    struct Case {
        double time;
        double length;
        bool red;
        const char* text;
    };
    const Case cases[] = {
        {20.0, 30.0, true, "00;00;10;00"},          {19.99, 30.0, false, "00;00;10;00"},
        {30.0, 30.0, false, "00;00;00;00"},         {31.0, 30.0, false, "00;00;00;00"},
        {28.5, 30.0, true, "00;00;01;15"},  // 30 frames a second at 29.97
        {std::nan(""), 30.0, false, "00;00;00;00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.time));
        play(0, 0, c.time, c.length);
        EXPECT_EQ(panel->state().remainingRed, c.red);
        EXPECT_EQ(panel->state().remaining, c.text);
        // The digits are painted in red, or in the light primary label colour.
        const QImage header = test::render(*panel->headerRow());
        int reddish = 0;
        for (int x = 200; x < 430; ++x) {
            for (int y = 8; y < 36; ++y) {
                const QColor p = header.pixelColor(x, y);
                reddish += p.red() > 180 && p.green() < 120;
            }
        }
        EXPECT_EQ(reddish > 50, c.red) << reddish;
    }
    // The same time left with nothing loaded stays uncoloured.
    facade.setLoaded(std::nullopt, std::nullopt);
    facade.currentTime() = 25.0;
    EXPECT_FALSE(panel->state().remainingRed);
}

// A clip frozen at its end stands still half a frame before it: it shows the end, uncoloured. A
// clip that plays there, or stands still a whole frame before the end, shows the frame left.
TEST_F(PlayerPanelTest, AClipFrozenAtItsEndShowsTheEnd) {
    struct Case {
        double left;
        bool stopped;
        bool red;
        const char* text;
    };
    const double frame = 1001.0 / 60000.0;  // of the clip; the readout counts 60 a second
    const Case cases[] = {
        {frame / 2, true, false, "00;00;00;00"},
        {frame / 2, false, true, "00;00;00;01"},
        {1.0 / 60.0 + 1e-9, true, true, "00;00;00;01"},
        {0.5, true, true, "00;00;00;30"},
    };
    facade.frameRate = 59.94;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.left) + (c.stopped ? " stopped" : " playing"));
        facade.showingStopped = c.stopped;
        play(0, 0, 12.0 - c.left, 12.0);
        EXPECT_EQ(panel->state().remaining, c.text);
        EXPECT_EQ(panel->state().remainingRed, c.red);
    }
}

TEST_F(PlayerPanelTest, ClipInfoAndTimecodes) {
    struct Case {
        double fps;
        const char* info;
    };
    for (const auto& c : {Case{29.97, "[1920x1080 29.97fps]"}, Case{0.0, "[1920x1080 0.00fps]"},
                          Case{std::numeric_limits<double>::quiet_NaN(), "[1920x1080 nanfps]"}}) {
        facade.slot(3, 7).clipInfo = clipFacts("1920x1080", c.fps);
        play(3, 7, 83.5, 100.0);
        EXPECT_EQ(panel->state().formatInfo, c.info);
    }
    facade.slot(3, 7).inPoint = 1.5;
    facade.slot(3, 7).outPoint = 3725.0;
    facade.frameRate = 29.97;
    facade.currentTime() = 83.5;
    EXPECT_EQ(panel->state().position, "00;01;23;15 / 00;01;40;00");
    EXPECT_EQ(panel->state().inPoint, "IN 00;00;01;15");
    EXPECT_EQ(panel->state().outPoint, "OUT 01;02;05;00");
    // A frame rate that is zero or not a number keeps every timecode readable.
    for (double fps : {0.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        facade.frameRate = fps;
        facade.currentTime() = 83.5;
        EXPECT_EQ(panel->state().position.size(), 25) << panel->state().position.toStdString();
    }
    facade.slot(3, 7).clipInfo.reset();
    facade.currentTime() = 1.0;
    EXPECT_TRUE(panel->state().formatInfo.isEmpty());
}

// Each post-roll choice writes the loaded slot, marks unsaved, and then acts on the clip on air
// as the loop and the player's state say.
TEST_F(PlayerPanelTest, PostRollChoices) {
    struct Case {
        PostRollMode mode;
        bool looping;
        bool stopped;
        Calls output;  // what follows "edit 4 9", "unsaved"
    };
    const Case cases[] = {
        {PostRollMode::next, true, false, {"releaseLoop next"}},
        {PostRollMode::black, true, true, {"releaseLoop black"}},
        {PostRollMode::loop, true, false, {}},
        {PostRollMode::loop, true, true, {}},  // the loop goes on: no replay
        {PostRollMode::next, false, true, {}},
        {PostRollMode::loop, false, true, {"playSlot 4 9"}},
        {PostRollMode::loop, false, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.mode)) + (c.looping ? " looping" : "") +
                     (c.stopped ? " stopped" : ""));
        facade.calls.clear();
        facade.looping = c.looping;
        facade.showingStopped = c.stopped;
        play(4, 9, 1.0, 10.0);
        click(panel->postRollButton(c.mode));
        Calls expected{"edit 4 9", "unsaved"};
        expected.insert(expected.end(), c.output.begin(), c.output.end());
        EXPECT_EQ(facade.calls, expected);
        EXPECT_EQ(facade.slot(4, 9).postRollMode, c.mode);
        EXPECT_EQ(panel->state().postRoll, c.mode);
        EXPECT_EQ(panel->postRollButton(c.mode)->look().strokeWidth, 1.5);
    }
}

// Jump starts the pick of a jump target for the loaded slot, in whatever bank; another choice
// before a target is picked ends it; Jump twice keeps it.
TEST_F(PlayerPanelTest, JumpStartsAndOtherChoicesEndThePick) {
    play(12, 30, 1.0, 10.0);
    click(panel->postRollButton(PostRollMode::jump));
    click(panel->postRollButton(PostRollMode::jump));
    EXPECT_TRUE(facade.isSettingJumpTarget().get());
    EXPECT_EQ(facade.jumpSourceBank().get(), 12);
    EXPECT_EQ(facade.jumpSourceSlot().get(), 30);
    click(panel->postRollButton(PostRollMode::freeze));
    EXPECT_FALSE(facade.isSettingJumpTarget().get());
    EXPECT_EQ(facade.slot(12, 30).postRollMode, PostRollMode::freeze);
    // Only the loaded slot changed.
    EXPECT_EQ(facade.slot(0, 0).postRollMode, SlotData{}.postRollMode);
}

TEST_F(PlayerPanelTest, StopBlacksOutOrArmsLearn) {
    play(0, 1, 1.0, 10.0);
    EXPECT_TRUE(panel->stopButton()->isEnabled());
    click(panel->stopButton());
    EXPECT_EQ(facade.calls, Calls{"postRoll black"});

    facade.calls.clear();
    facade.setLoaded(std::nullopt, std::nullopt);
    facade.isMIDILearnMode() = true;
    EXPECT_TRUE(panel->stopButton()->isEnabled());
    click(panel->stopButton());
    EXPECT_EQ(facade.calls, Calls{"arm stop"});
}

// The program picture is the 16:9 box in the 631 x 308 row (547.6 x 308), black on both sides.
TEST(PlayerPanelPicture, LetterboxedOnBlack) {
    EXPECT_EQ(letterbox(QSize(631, 308)), QRect(41, 0, 548, 308));
    EXPECT_EQ(letterbox(QSize(320, 400)), QRect(0, 110, 320, 180));
    EXPECT_EQ(letterbox(QSize(0, 308)), QRect());

    platform::ManualRunLoop loop;
    test::RecordingPanelFacade facade;
    facade.program = platform::Layer::create(loop);
    facade.program->setBackgroundColor(QColor(Qt::white));
    ui::PanelCard card(ui::PanelCardStyle::player());
    auto* panel = new PlayerPanel(facade, loop, card);
    card.show();
    ASSERT_NE(panel->programView(), nullptr);
    EXPECT_EQ(panel->programView()->geometry(), QRect(41, 0, 548, 308));
    EXPECT_GE(facade.programLayouts, 1);
    // Let the view's presenter compose a refresh on the virtual clock.
    auto& presenter = panel->programView()->presenter();
    for (int i = 0; i < 200 && presenter.newestFrame().image.isNull(); ++i) {
        loop.advance(1.0 / 60.0);
        presenter.waitForRefresh(presenter.newestFrame().refresh + 1, 0.05);
    }
    ASSERT_FALSE(presenter.newestFrame().image.isNull());
    QCoreApplication::processEvents();
    const QImage box = test::render(*panel->pictureBox(), Qt::red);
    EXPECT_EQ(box.pixelColor(20, 150), QColor(Qt::black));
    EXPECT_EQ(box.pixelColor(610, 150), QColor(Qt::black));
    EXPECT_EQ(box.pixelColor(315, 150), QColor(Qt::white));
    EXPECT_EQ(box.pixelColor(43, 2), QColor(Qt::white));
}

// Screenshots for a person: idle and playing (a loaded clip in its last seconds with in and
// out points), in both languages.
TEST(PlayerPanelShots, IdleAndPlayingInBothLanguages) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ja}) {
        test::setLanguage(language);
        const QString suffix = language == AppLanguage::en ? "en" : "ja";
        platform::ManualRunLoop loop;
        test::RecordingPanelFacade facade;
        facade.selectedClipName() = language == AppLanguage::en ? "No Selection" : "未選択";
        ui::PanelCard card(ui::PanelCardStyle::player());
        auto* panel = new PlayerPanel(facade, loop, card);
        card.show();
        test::saveShot(test::render(card, ui::palette::white(0.42)), "player_idle_" + suffix);
        EXPECT_TRUE(test::near(test::render(card).pixelColor(3, 264), QColor(31, 31, 31)));

        auto& slot = facade.slot(2, 5);
        slot.clipInfo = clipFacts("1920x1080", 29.97);
        slot.inPoint = 2.0;
        slot.outPoint = 95.5;
        slot.postRollMode = PostRollMode::loop;
        facade.setLoaded(2, 5);
        facade.duration() = 100.0;
        facade.currentTime() = 91.25;
        facade.selectedClipName() =
            language == AppLanguage::en ? "Opening titles" : "オープニング タイトル";
        EXPECT_TRUE(panel->state().remainingRed);
        test::saveShot(test::render(card, ui::palette::white(0.42)), "player_playing_" + suffix);
    }
}

}  // namespace
}  // namespace kestio::panels
