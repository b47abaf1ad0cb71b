#include <cmath>
#include <limits>

#include "show/slot_display_name.h"
#include "show/timecode.h"
#include "show_fixture.h"

namespace kestio::test {
namespace {

using ShowState = ShowFixture;

TEST_F(ShowState, AFreshWindowShowsTheFirstBankWithNothingChosen) {
    EXPECT_EQ(show->currentBank.get(), 0);
    EXPECT_EQ(show->cursorSlot.get(), 0);
    EXPECT_TRUE(show->selectedSlots.get().empty());
    EXPECT_TRUE(show->followJump.get());
    EXPECT_FALSE(show->isMIDILearnMode.get());
    EXPECT_FALSE(show->editLocked.get());
    EXPECT_TRUE(show->geoScaleLocked.get());
    EXPECT_TRUE(show->isMeterPeak.get());
    EXPECT_EQ(show->toneLevel1kHz.get(), -20.0);
    EXPECT_FALSE(show->currentProjectURL.get());
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_EQ(show->project().banks.size(), 20u);
    EXPECT_EQ(show->project().banks[19].name, "BANK 20");
    EXPECT_EQ(show->project().banks[0].slots.size(), 40u);
    // Nothing is played or started by creation.
    EXPECT_TRUE(playback.calls.empty());
    EXPECT_TRUE(playback.logLines.empty());
}

TEST_F(ShowState, AFreshProjectKeepsMIDIInputOnAsTheSwitchShowsIt) {
    EXPECT_TRUE(midi.isEnabled.get());
    EXPECT_TRUE(show->project().midiInputEnabled);
}

TEST(Timecode, RoundsTheRateAndTheFrameCountAwayFromZero) {
    struct Case {
        double seconds;
        double fps;
        const char* text;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {
             Case{3661.5, 29.97, "01;01;01;15"},
             Case{0.0, 0.0, "00;00;00;00"},
             Case{nan, 25.0, "00;00;00;00"},
             Case{inf, 25.0, "00;00;00;00"},
             Case{1.0 / 48.0, 24.0, "00;00;00;01"},  // half a frame rounds up
             Case{59.99, 23.976, "00;01;00;00"},
             Case{90000.0, 30.0, "25;00;00;00"},  // hours are not wrapped
             Case{10.0, nan, "00;00;10;00"},      // a rate that is not a number counts as 1
             Case{1e300, 30.0, "9259259259;15;33;10"},
         }) {
        EXPECT_EQ(timecodeString(c.seconds, c.fps), c.text) << c.seconds << " at " << c.fps;
    }
}

TEST(DisplayName, DropsALeadingNumberAndItsSeparatorsInTheUnicodeSense) {
    for (const auto& [name, shown] : std::vector<std::pair<std::string, std::string>>{
             {"012_intro", "intro"},
             {"001", "001"},
             {"12 - Song", "Song"},
             {"０３\u3000Intro", "Intro"},  // full-width digits, ideographic space
             {"03＿Intro", "03＿Intro"},    // a full-width low line is no separator
             {"Intro_01", "Intro_01"},
             {"", ""},
         }) {
        EXPECT_EQ(slotDisplayName(name), shown) << name;
    }
}

TEST_F(ShowState, NowPlayingValuesFollowTheSlotOnAir) {
    load(0, 3, "clip.mov");
    slot(0, 3).clipInfo.emplace().fps = 25.0;
    slot(0, 3).inPoint = 1.5;
    slot(0, 3).postRollMode = PostRollMode::loop;
    load(1, 0, "still.png");
    project().outputSettings.frameRate = OutputFrameRate::fps59_94;

    EXPECT_EQ(show->currentFrameRate(), 59.94);  // nothing on air
    EXPECT_FALSE(show->nowPlayingInPoint());
    EXPECT_FALSE(show->nowPlayingPostRollMode());

    playback.setOnAir(0, 3);
    EXPECT_EQ(show->currentFrameRate(), 25.0);
    EXPECT_EQ(show->nowPlayingInPoint(), 1.5);
    EXPECT_FALSE(show->nowPlayingOutPoint());
    EXPECT_EQ(show->nowPlayingPostRollMode(), PostRollMode::loop);
    EXPECT_EQ(show->nowPlayingTransitionMode(), TransitionMode::cut);

    playback.setOnAir(1, 0);  // a still: no clip facts
    EXPECT_EQ(show->currentFrameRate(), 59.94);

    slot(1, 0).clipInfo.emplace().fps = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(show->currentFrameRate(), 59.94);

    playback.setOnAir(25, 3);  // indices this project does not have
    EXPECT_EQ(show->currentFrameRate(), 59.94);
    EXPECT_FALSE(show->nowPlayingInPoint());
    EXPECT_FALSE(show->nowPlayingTransitionMode());
}

}  // namespace
}  // namespace kestio::test
