#include <fstream>

#include "model/localization_manager.h"
#include "show_fixture.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

using Packets = std::vector<std::vector<std::uint8_t>>;

class PlaySlot : public ShowFixture {
  protected:
    void SetUp() override {
        synth = midiSystem.addDestination("Lights");
        midiOut.setup();
        loop.runPending();
    }
    std::string synth;
};

TEST_F(PlaySlot, LogsAndHandsTheSlotToPlaybackWithTheCanvasOfTheOutput) {
    load(0, 2, "003.mov");
    struct Case {
        OutputResolution resolution;
        const char* size;
    };
    for (const Case& c : {Case{OutputResolution::uhd2160p, "3840x2160"},
                          Case{OutputResolution::hd1080i, "1920x1080"},
                          Case{OutputResolution::hd720p, "1280x720"}}) {
        project().outputSettings.resolution = c.resolution;
        playback.calls.clear();
        playback.logLines.clear();
        show->playSlot(0, 2);
        EXPECT_EQ(playback.calls,
                  std::vector<std::string>{std::string("play 0 2 /media/003.mov ") + c.size});
        EXPECT_EQ(playback.logLines,
                  std::vector<std::string>{"再生: BANK[BANK 1] SLOT[3] 003 postRoll=freeze"});
    }
    EXPECT_EQ(show->currentBank.get(), 0);
    EXPECT_EQ(show->cursorSlot.get(), 0);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(PlaySlot, AnEmptySlotOrIndicesOutsideTheProjectDoNothingAtAll) {
    show->playSlot(0, 5);
    show->playSlot(-1, 0);
    show->playSlot(0, 40);
    show->playSlot(20, 0);
    loop.advance(1.0);
    EXPECT_TRUE(playback.calls.empty());
    EXPECT_TRUE(playback.logLines.empty());
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_TRUE(midiSystem.received(synth).empty());
    EXPECT_EQ(importer.requestCount("generateWaveform"), 0u);
}

// A cue that playback could not put on air because its file went away during the show: the slot
// gets the missing mark and the operator the missing-file alert and log line; a file that is
// there but would not play is only logged.
TEST_F(PlaySlot, ACueWhoseFileWentAwayIsMarkedMissingAndReported) {
    TemporaryFolder folder;
    const auto present = folder.path() / "present.mov";
    std::ofstream(present) << "not a clip";
    load(0, 0, "012_gone.mov");
    slot(0, 0).name = "012_gone";
    slot(0, 1).videoURL = present;
    slot(0, 1).name = "present";
    LocalizationManager::shared().language = AppLanguage::ja;
    ASSERT_TRUE(playback.onCueFailed);
    playback.onCueFailed(0, 0, "No such file or directory");
    playback.onCueFailed(0, 1, "Invalid data found when processing input");
    EXPECT_TRUE(slot(0, 0).isFileMissing);
    EXPECT_FALSE(slot(0, 1).isFileMissing);
    EXPECT_EQ(
        playback.logLines,
        (std::vector<std::string>{
            "再生中止: ファイルが見つかりません（gone）",
            "再生中止: 再生できません（present）: Invalid data found when processing input"}));
    const auto alerts = dialogs.callsOf("alert");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].texts.front(), "ファイルが見つかりません");
}

TEST_F(PlaySlot, AMissingFileIsReportedByItsShortNameAndNothingIsPlayed) {
    load(0, 0, "012_intro.mov");
    slot(0, 0).name = "012_intro";
    slot(0, 0).isFileMissing = true;
    slot(0, 0).midiOutputBinding = MIDINoteBinding{1, 60};
    LocalizationManager::shared().language = AppLanguage::en;
    show->playSlot(0, 0);
    LocalizationManager::shared().language = AppLanguage::ja;
    show->playSlot(0, 0);
    EXPECT_TRUE(playback.calls.empty());
    EXPECT_EQ(playback.logLines.size(), 2u);
    playback.logLines.resize(1);
    EXPECT_EQ(playback.logLines,
              std::vector<std::string>{"再生中止: ファイルが見つかりません（intro）"});
    const auto alerts = dialogs.callsOf("alert");
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].style, platform::DialogPresenter::AlertStyle::warning);
    EXPECT_EQ(
        alerts[0].texts,
        (std::vector<std::string>{
            "File Not Found", "Can't play \"intro\" because its source file could not be found."}));
    EXPECT_EQ(alerts[1].texts[1], "「intro」の元ファイルが見つからないため、再生できません。");
    EXPECT_TRUE(midiSystem.received(synth).empty());
}

TEST_F(PlaySlot, TheOutputNoteGoesOutAtOnceAndItsNoteOffAfterAHundredAndTwentyMilliseconds) {
    load(0, 0, "a.mov");
    slot(0, 0).midiOutputBinding = MIDINoteBinding{3, 60};
    show->playSlot(0, 0);
    EXPECT_EQ(midiSystem.received(synth), (Packets{{0x92, 0x3C, 0x64}}));
    loop.advance(0.119);
    EXPECT_EQ(midiSystem.received(synth).size(), 1u);
    loop.advance(0.001);
    EXPECT_EQ(midiSystem.received(synth), (Packets{{0x92, 0x3C, 0x64}, {0x82, 0x3C, 0x00}}));
}

TEST_F(PlaySlot, TwoQuickPlaysSendTwoNoteOnsThenTwoNoteOffs) {
    load(0, 0, "a.mov");
    slot(0, 0).midiOutputBinding = MIDINoteBinding{1, 36};
    show->playSlot(0, 0);
    loop.advance(0.05);
    show->playSlot(0, 0);
    loop.advance(0.2);
    EXPECT_EQ(midiSystem.received(synth),
              (Packets{{0x90, 36, 100}, {0x90, 36, 100}, {0x80, 36, 0}, {0x80, 36, 0}}));
}

TEST_F(PlaySlot, ASlotPlayedHiddenForAWarmUpSendsNoNote) {
    load(0, 0, "a.mov");
    slot(0, 0).midiOutputBinding = MIDINoteBinding{1, 36};
    playback.warming = true;
    show->playSlot(0, 0);
    loop.advance(1.0);
    EXPECT_EQ(playback.callsStartingWith("play").size(), 1u);
    EXPECT_TRUE(midiSystem.received(synth).empty());
}

TEST_F(PlaySlot, TheWaveformIsReadOnceAndOnlyOntoTheClipItCameFrom) {
    load(0, 0, "a.mov");
    show->playSlot(0, 0);
    EXPECT_EQ(importer.requests.back(), "generateWaveform /media/a.mov 500");
    loop.runPending();
    ASSERT_TRUE(slot(0, 0).waveformData);
    EXPECT_EQ(slot(0, 0).waveformData->size(), 500u);
    show->playSlot(0, 0);
    EXPECT_EQ(importer.requestCount("generateWaveform"), 1u);
    EXPECT_FALSE(show->hasUnsavedChanges.get());

    // A waveform that arrives after the slot got another clip is dropped.
    load(0, 1, "b.mov");
    importer.waveformDelay = 1.0;
    show->playSlot(0, 1);
    load(0, 1, "c.mov");
    loop.advance(1.0);
    EXPECT_FALSE(slot(0, 1).waveformData);
}

class PlaySlotBookmarks : public PlaySlot {
  protected:
    TemporaryFolder folder;
};

TEST_F(PlaySlotBookmarks, AStaleBookmarkIsRenewedAndTheRenamedFilePlays) {
    const auto original = folder.path() / "clip.mov";
    std::ofstream(original) << "x";
    slot(0, 0).bookmarkData = bookmarks.bookmarkData(original);
    slot(0, 0).name = "clip";
    const auto renamed = folder.path() / "renamed.mov";
    std::filesystem::rename(original, renamed);
    const auto before = *slot(0, 0).bookmarkData;

    show->playSlot(0, 0);
    EXPECT_EQ(slot(0, 0).videoURL, renamed);
    EXPECT_NE(*slot(0, 0).bookmarkData, before);
    EXPECT_EQ(playback.callsStartingWith("play 0 0 " + renamed.string()).size(), 1u);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(PlaySlotBookmarks, ABookmarkThatNoLongerResolvesFallsBackToTheLastKnownLocation) {
    slot(0, 0).bookmarkData = std::vector<std::uint8_t>{'n', 'o', 't', 'o', 'u', 'r', 's'};
    show->playSlot(0, 0);
    EXPECT_TRUE(playback.calls.empty());  // no location known: silently nothing
    slot(0, 0).videoURL = folder.path() / "earlier.mov";
    show->playSlot(0, 0);
    EXPECT_EQ(playback.callsStartingWith("play").size(), 1u);
}

TEST_F(PlaySlot, PreloadAndStandbyResolveTheSlotAndSkipWhatCannotPlay) {
    load(1, 4, "next.mov");
    show->preloadNextGo(1, 4);
    show->preloadNextGo(1, 40);
    show->preloadNextGo(-1, 0);
    slot(1, 4).isFileMissing = true;
    show->preloadNextGo(1, 4);
    show->standbySlot(1, 4);  // standby does not look at the missing flag
    show->standbySlot(1, 5);
    EXPECT_EQ(playback.calls, (std::vector<std::string>{"preloadNext 1 4 /media/next.mov",
                                                        "standby 1 4 /media/next.mov 1920x1080"}));
    EXPECT_TRUE(playback.logLines.empty());
    EXPECT_EQ(importer.requestCount("generateWaveform"), 0u);
}

TEST_F(PlaySlot, APlayRequestOfThePlaybackShowsTheRequestedBankButLeavesTheCursor) {
    load(3, 7, "a.mov");
    show->cursorSlot = 12;
    show->requestPlay(3, 7);
    EXPECT_EQ(show->currentBank.get(), 3);
    EXPECT_EQ(show->cursorSlot.get(), 12);
    EXPECT_EQ(playback.callsStartingWith("play 3 7").size(), 1u);
}

}  // namespace
}  // namespace kestio::test
