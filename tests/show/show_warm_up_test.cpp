#include <string>
#include <vector>

#include "show/project_io.h"
#include "show_project_fixture.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

class ShowWarmUp : public ShowProjectFixture {
  protected:
    // Opens a project with clips at the given slots; the clips at `renamed` are renamed on
    // disk first, so that the check marks them missing (they keep their file location).
    void openWith(const std::vector<std::pair<int, int>>& clips,
                  const std::vector<std::pair<int, int>>& renamed = {}) {
        ProjectData project(4, 10);
        for (const auto& [b, s] : clips) {
            project.banks[static_cast<std::size_t>(b)].slots[static_cast<std::size_t>(s)] =
                slotFor(media(name(b, s) + ".mov"));
        }
        const fs::path package = writePackage(project, "Warm.ktshow");
        for (const auto& [b, s] : renamed) {
            fs::rename(folder / (name(b, s) + ".mov"), folder / (name(b, s) + " old.mov"));
        }
        progress = playback.warmDone().subscribe([this](int done) { warmDone.push_back(done); });
        open(package);
    }
    static std::string name(int b, int s) {
        return "c" + std::to_string(b) + "_" + std::to_string(s);
    }

    // Answers every warm-ready wait as it comes until the run has ended.
    void runToEnd() {
        ASSERT_TRUE(waitFor([&] {
            playback.answerWarmWait(true);
            return logged(completeLine);
        }));
    }
    std::vector<std::string> plays() const { return playback.callsStartingWith("play "); }
    std::string playOf(int b, int s) const {
        return "play " + std::to_string(b) + " " + std::to_string(s) + " " +
               (folder / (name(b, s) + ".mov")).string() + " 1920x1080";
    }

    std::vector<int> warmDone;
    platform::Subscription progress;
    std::string completeLine;
};

TEST_F(ShowWarmUp, PlaysEverySlotInOrderCountsProgressAndPutsEverythingBack) {
    completeLine = "ウォームアップ完了 (4件)";
    show->hasUnsavedChanges = true;  // an edit not yet saved before the load
    openWith({{0, 0}, {0, 2}, {0, 5}, {2, 7}});
    EXPECT_TRUE(logged("ウォームアップ開始: 4件"));
    EXPECT_EQ(playback.warmTotal().get(), 4);
    EXPECT_TRUE(show->isLoading.get());
    EXPECT_TRUE(playback.isMuted().get());
    EXPECT_TRUE(playback.warming);
    show->hasUnsavedChanges = true;  // an edit during the run
    runToEnd();
    EXPECT_EQ(plays(),
              (std::vector<std::string>{playOf(0, 0), playOf(0, 2), playOf(0, 5), playOf(2, 7)}));
    EXPECT_EQ(warmDone, (std::vector<int>{0, 1, 2, 3, 4, 0}));
    EXPECT_EQ(playback.callsStartingWith("waitForWarmReady 1.5").size(), 4u);
    // The end: warming off, the output cleared and let go of, the mute and counters back.
    const auto& calls = playback.calls;
    const auto off = std::find(calls.begin(), calls.end(), "warming off");
    ASSERT_NE(off, calls.end());
    EXPECT_EQ(std::vector<std::string>(off, calls.end()),
              (std::vector<std::string>{"warming off", "clearSurface", "postRoll black"}));
    EXPECT_FALSE(playback.isMuted().get());
    EXPECT_EQ(playback.warmTotal().get(), 0);
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_TRUE(show->hasUnsavedChanges.get());  // warming saves nothing
}

TEST_F(ShowWarmUp, AProjectWithoutMediaStartsNothing) {
    show->hasUnsavedChanges = true;
    show->startWarmUp(show->project());
    loop.runPending();
    EXPECT_TRUE(playback.logLines.empty());
    EXPECT_TRUE(playback.calls.empty());
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

TEST_F(ShowWarmUp, CancelAtAMissingSlotLogsHowFarItGotAndStillEndsFully) {
    completeLine = "ウォームアップ中止（2/5件処理済み）";
    dialogs.alertAnswers = {1, 2};  // missing media: Later; warm-up: Cancel Warm-Up
    openWith({{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}}, {{0, 2}});
    runToEnd();
    EXPECT_EQ(plays(), (std::vector<std::string>{playOf(0, 0), playOf(0, 1)}));
    const auto ask = dialogs.lastOf("alert");
    EXPECT_EQ(ask.texts.at(0), L("ファイルが見つかりません", "File Not Found"));
    EXPECT_EQ(ask.buttons.size(), 3u);
    EXPECT_NE(ask.texts.at(1).find("c0_2"), std::string::npos);
    // The abort is the run's last word: nothing says it completed.
    EXPECT_EQ(logCount(completeLine), 1);
    EXPECT_EQ(logCount("ウォームアップ完了 (5件)"), 0);
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_FALSE(playback.warming);
}

TEST_F(ShowWarmUp, ASkippedSlotCountsAsDone) {
    completeLine = "ウォームアップ完了 (3件)";
    dialogs.alertAnswers = {1, 1};  // Later; Skip
    openWith({{0, 0}, {0, 1}, {0, 2}}, {{0, 1}});
    runToEnd();
    EXPECT_EQ(plays(), (std::vector<std::string>{playOf(0, 0), playOf(0, 2)}));
    EXPECT_EQ(warmDone, (std::vector<int>{0, 1, 2, 3, 0}));
}

TEST_F(ShowWarmUp, SearchingAFolderRelinksTheSlotAndPlaysIt) {
    completeLine = "ウォームアップ完了 (2件)";
    // Later; Search Folder (panel cancelled: asked again); Search Folder (relinked).
    dialogs.alertAnswers = {1, 0, 0};
    dialogs.pathAnswers = {std::nullopt, folder / "found"};
    const fs::path found = media("found/c0_1.mov");
    openWith({{0, 0}, {0, 1}}, {{0, 1}});
    runToEnd();
    const auto asks =
        std::count_if(dialogs.calls.begin(), dialogs.calls.end(), [](const auto& call) {
            return call.kind == "alert" &&
                   call.texts.at(0) == L("ファイルが見つかりません", "File Not Found");
        });
    EXPECT_EQ(asks, 2);
    EXPECT_TRUE(logged("🔗 再リンク: 1件成功 / 0件未発見"));
    ASSERT_FALSE(plays().empty());
    EXPECT_EQ(plays().back(), "play 0 1 " + found.string() + " 1920x1080");
}

TEST_F(ShowWarmUp, OneRunAtATimeAndAMutedOutputStaysMuted) {
    completeLine = "ウォームアップ完了 (2件)";
    playback.isMuted() = true;
    openWith({{1, 0}, {1, 1}});
    show->startWarmUp(show->project());  // refused while the first runs
    runToEnd();
    EXPECT_EQ(logCount("ウォームアップ開始: 2件"), 1);
    EXPECT_EQ(playback.callsStartingWith("warming on").size(), 1u);
    EXPECT_EQ(plays().size(), 2u);
    EXPECT_TRUE(playback.isMuted().get());
}

TEST_F(ShowWarmUp, OpeningAnotherProjectEndsTheRunningOneBeforeItsOwnStarts) {
    completeLine = "ウォームアップ完了 (2件)";
    openWith({{0, 0}, {0, 1}, {0, 2}});
    loop.runPending();
    ASSERT_EQ(plays().size(), 1u);  // the first run waits for its first slot

    ProjectData other(4, 10);
    other.banks[5].slots[0] = slotFor(media("other/a.mov"));
    other.banks[5].slots[1] = slotFor(media("other/b.mov"));
    ASSERT_NO_FATAL_FAILURE(open(writePackage(other, "Other.ktshow")));
    // The first run stopped short: it says so, and never that it completed.
    EXPECT_TRUE(logged("ウォームアップ中止（0/3件処理済み）"));
    EXPECT_FALSE(logged("ウォームアップ完了 (3件)"));
    EXPECT_TRUE(logged("ウォームアップ開始: 2件"));
    runToEnd();
    EXPECT_EQ(playback.callsStartingWith("play 5 ").size(), 2u);
    EXPECT_EQ(playback.callsStartingWith("play 0 ").size(), 1u);
    // The second run saved the mute as it was before the first, not the first one's.
    EXPECT_FALSE(playback.isMuted().get());
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_FALSE(playback.warming);
}

TEST_F(ShowWarmUp, ClosingTheProjectEndsTheRun) {
    completeLine = "ウォームアップ中止（1/3件処理済み）";
    openWith({{0, 0}, {0, 1}, {0, 2}});
    loop.runPending();
    ASSERT_EQ(plays().size(), 1u);
    dialogs.alertAnswers = {0};
    show->projectIO().closeProject();
    playback.answerWarmWait(true);
    loop.runPending();
    EXPECT_TRUE(logged(completeLine));
    EXPECT_FALSE(logged("ウォームアップ完了 (3件)"));
    EXPECT_EQ(plays().size(), 1u);  // no slot of the closed project is played
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_FALSE(playback.isMuted().get());
}

}  // namespace
}  // namespace kestio::test
