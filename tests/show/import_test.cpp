#include "model/localization_manager.h"
#include "show/project_io.h"
#include "show/show_import.h"
#include "show_fixture.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

class Import : public ShowFixture {
  protected:
    void SetUp() override { show->currentProjectURL = folder.path() / "Show.ktshow"; }
    static std::vector<std::filesystem::path> files(std::initializer_list<const char*> names) {
        std::vector<std::filesystem::path> out;
        for (const char* n : names) {
            out.push_back(std::filesystem::path("/drop") / n);
        }
        return out;
    }
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : playback.logLines) {
            if (l.rfind(prefix, 0) == 0) {
                out.push_back(l);
            }
        }
        return out;
    }
    TemporaryFolder folder;
};

TEST_F(Import, FillsFreeSlotsFromTheTargetOnwardAcrossBanks) {
    playback.warmReadyAnswer = true;
    load(0, 39, "taken.mov");
    show->showImport().handleDrop(files({"clip.mp4", "notes.txt", "still.PNG", "tone.wav"}), 0, 38);
    EXPECT_TRUE(show->isLoading.get());
    EXPECT_EQ(*show->importAlert.get(), "非対応形式: notes.txt\n");
    loop.advance(1.0);
    EXPECT_EQ(slot(0, 38).name, "clip");
    EXPECT_EQ(slot(1, 0).name, "still");
    EXPECT_EQ(slot(1, 1).name, "tone");
    EXPECT_EQ(slot(0, 39).name, "taken");
    EXPECT_EQ(slot(1, 0).thumbnailFileName, "thumb_1_0.png");
    EXPECT_EQ(linesStartingWith("インポート完了"),
              (std::vector<std::string>{"インポート完了: clip → BANK1 SLOT39",
                                        "インポート完了: still → BANK2 SLOT1",
                                        "インポート完了: tone → BANK2 SLOT2"}));
    EXPECT_EQ(playback.logLines.front(), "インポート開始: 4件 → BANK1 SLOT39");
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    // The display check played each new slot hidden and muted, then went to black.
    EXPECT_EQ(playback.callsStartingWith("play").size(), 3u);
    EXPECT_EQ(playback.callsStartingWith("waitForWarmReady 5").size(), 3u);
    EXPECT_EQ(playback.calls.back(), "hideSlotLayers");
    EXPECT_FALSE(playback.isMuted().get());
    EXPECT_FALSE(playback.warming);
    EXPECT_FALSE(playback.currentBankIndex().get());
}

TEST_F(Import, ReportsFilesWithoutAFreeSlotAndNeverWrapsToTheStart) {
    for (int s = 0; s < 40; ++s) {
        if (s != 37) {
            load(19, s, "x" + std::to_string(s) + ".mov");
        }
    }
    show->showImport().handleDrop(files({"a.mov", "b.MOV", "c.txt", "d.mp3"}), 19, 30);
    EXPECT_EQ(*show->importAlert.get(), "非対応形式: c.txt\n空きスロット不足: 2個");
    loop.advance(10.0);
    EXPECT_EQ(slot(19, 37).name, "a");
    EXPECT_EQ(slot(0, 0).name, "001");
}

TEST_F(Import, OnlyUnsupportedFilesNeverStartLoading) {
    show->showImport().handleDrop(files({"a.txt", "folder"}), 0, 0);
    EXPECT_EQ(*show->importAlert.get(), "非対応形式: a.txt, folder\n");
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_EQ(playback.logLines, std::vector<std::string>{"インポート開始: 2件 → BANK1 SLOT1"});
}

TEST_F(Import, TheEntryChecksLocationAirAndLoading) {
    show->currentProjectURL = std::nullopt;
    show->showImport().handleDrop(files({"a.mov"}), 0, 0);
    EXPECT_TRUE(show->showNoProjectAlert.get());
    EXPECT_TRUE(playback.logLines.empty());

    show->currentProjectURL = folder.path() / "Show.ktshow";
    playback.setOnAir(0, 5);
    show->showImport().handleDrop(files({"a.mov"}), 0, 0);
    EXPECT_TRUE(playback.logLines.empty());
    ASSERT_TRUE(show->confirmImportWhilePlaying.get());
    show->confirmImportWhilePlaying.get()();
    EXPECT_EQ(playback.logLines.size(), 1u);
    EXPECT_TRUE(show->isLoading.get());

    // While that import loads, drops are refused outright.
    playback.setOnAir(std::nullopt, std::nullopt);
    show->showImport().handleDrop(files({"b.mov"}), 0, 0);
    EXPECT_EQ(playback.logLines.size(), 1u);
}

TEST_F(Import, EveryRefusalKeepsItsOwnLineAndTheSlotsStayAsTheyWere) {
    importer.probes["/drop/bad1.mov"].outcome =
        ImportError::loadFailed("/drop/bad1.mov", std::string("first"));
    importer.probes["/drop/bad2.mov"].outcome = ImportError::notPlayable("/drop/bad2.mov");
    show->showImport().handleDrop(files({"bad1.mov", "ok.mov", "a.txt", "bad2.mov", "gone.mov"}), 0,
                                  0);
    loop.runPending();
    ASSERT_EQ(playback.pendingWarmWaits.size(), 1u);
    playback.answerWarmWait(false);  // ok's picture never comes
    ASSERT_EQ(playback.pendingWarmWaits.size(), 1u);
    playback.answerWarmWait(true);
    EXPECT_EQ(*show->importAlert.get(),
              "非対応形式: a.txt\n"
              "読み込みに失敗しました: bad1.mov\n(first)\n" +
                  ImportError::notPlayable("/drop/bad2.mov").message() +
                  "\n再生できないファイルのため取り込みを取り消しました: ok");
    EXPECT_EQ(slot(0, 0).name, "001");  // each file keeps the slot it was given
    EXPECT_FALSE(slot(0, 1).videoURL);
    EXPECT_EQ(slot(0, 2).name, "003");
    EXPECT_EQ(slot(0, 3).name, "gone");
}

TEST_F(Import, AClipWhosePictureNeverComesIsTakenOutAgain) {
    show->showImport().handleDrop(files({"a.mov", "b.mov"}), 0, 0);
    loop.runPending();
    ASSERT_EQ(playback.pendingWarmWaits.size(), 1u);
    playback.answerWarmWait(false);
    ASSERT_EQ(playback.pendingWarmWaits.size(), 1u);
    playback.answerWarmWait(true);
    EXPECT_EQ(linesStartingWith("⚠️"),
              std::vector<std::string>{
                  "⚠️ ウォームアップでisReadyForDisplayがタイムアウト → "
                  "取り込みを取り消し: a"});
    EXPECT_EQ(*show->importAlert.get(), "再生できないファイルのため取り込みを取り消しました: a");
    EXPECT_FALSE(slot(0, 0).videoURL);
    EXPECT_EQ(slot(0, 1).name, "b");
}

TEST_F(Import, OverlappingImportsNeverTakeTheSameSlot) {
    playback.warmReadyAnswer = true;
    importer.probes["/drop/slow.mov"].delay = 2.0;
    show->showImport().importFiles(files({"slow.mov"}), 0, 0);
    show->showImport().importFiles(files({"fast.mov"}), 0, 0);
    loop.advance(5.0);
    EXPECT_EQ(slot(0, 0).name, "slow");
    EXPECT_EQ(slot(0, 1).name, "fast");
}

TEST_F(Import, ASlotFilledWhileItsFileWasProbedIsNotOverwritten) {
    playback.warmReadyAnswer = true;
    importer.probes["/drop/a.mov"].delay = 1.0;
    show->showImport().handleDrop(files({"a.mov"}), 0, 0);
    loop.advance(0.5);
    // Pasted over while the file is probed: another clip, with its own bookmark and thumbnail.
    load(0, 0, "pasted.mov");
    slot(0, 0).bookmarkData = std::vector<std::uint8_t>{7, 7};
    slot(0, 0).thumbnail = std::vector<std::uint8_t>{9};
    slot(0, 0).thumbnailFileName = "pasted.png";
    loop.advance(1.0);
    EXPECT_EQ(slot(0, 0).name, "pasted");
    EXPECT_EQ(slot(0, 0).videoURL, std::filesystem::path("/media/pasted.mov"));
    EXPECT_EQ(slot(0, 0).bookmarkData, (std::vector<std::uint8_t>{7, 7}));
    EXPECT_EQ(slot(0, 0).thumbnail, (std::vector<std::uint8_t>{9}));
    EXPECT_EQ(slot(0, 0).thumbnailFileName, "pasted.png");
    EXPECT_EQ(show->importAlert.get(),
              std::optional<std::string>("取り込み先が使用中のため取り込みませんでした: a.mov"));
    // Nothing was imported: no completion line, no display check, no thumbnail taken.
    EXPECT_TRUE(linesStartingWith("インポート完了").empty());
    EXPECT_TRUE(playback.callsStartingWith("play").empty());
    EXPECT_EQ(importer.requestCount("videoThumbnail"), 0u);
    EXPECT_FALSE(show->isLoading.get());
}

// The interface language picks the text of the lines the import adds of its own.
TEST_F(Import, ItsOwnLinesSpeakTheInterfaceLanguage) {
    struct English {
        English() { LocalizationManager::shared().language = AppLanguage::en; }
        ~English() { LocalizationManager::shared().language = AppLanguage::ja; }
    } english;
    playback.warmReadyAnswer = true;
    importer.probes["/drop/a.mov"].delay = 1.0;
    importer.probes["/drop/c.mov"].delay = 1.0;
    show->showImport().handleDrop(files({"a.mov", "b.mov", "c.mov"}), 0, 0);
    loop.advance(0.5);
    load(0, 0, "pasted.mov");
    loop.advance(0.6);
    EXPECT_EQ(
        show->importAlert.get(),
        std::optional<std::string>("Not imported because its slot was filled meanwhile: a.mov"));
    dialogs.alertAnswers = {0};  // "Close"
    show->projectIO().closeProject();
    loop.advance(2.0);
    EXPECT_EQ(linesStartingWith("Import stopped"),
              std::vector<std::string>{
                  "Import stopped: the project was replaced, so the rest of the import was "
                  "dropped"});
    EXPECT_TRUE(linesStartingWith("インポート中断").empty());
}

// isLoading counts what is loading: an import's probes and a warm-up, in either order.
TEST_F(Import, LoadingLastsUntilTheImportAndTheWarmUpHaveBothEnded) {
    load(0, 0, "a.mov");
    load(0, 1, "b.mov");
    // A warm-up runs; an import from the file chooser joins it and ends its probes first.
    show->startWarmUp(show->project());
    show->showImport().importFiles(files({"c.mov"}), 0, 5);
    loop.advance(1.0);
    EXPECT_EQ(slot(0, 5).name, "c");
    EXPECT_TRUE(show->isLoading.get());
    for (int guard = 0; guard < 10 && !playback.pendingWarmWaits.empty(); ++guard) {
        playback.answerWarmWait(true);
        loop.advance(0.1);
    }
    EXPECT_TRUE(playback.pendingWarmWaits.empty());
    EXPECT_FALSE(show->isLoading.get());

    // An import probes; a warm-up starts and ends meanwhile.
    playback.warmReadyAnswer = true;
    importer.probes["/drop/d.mov"].delay = 3.0;
    show->showImport().importFiles(files({"d.mov"}), 0, 6);
    show->startWarmUp(show->project());
    loop.advance(1.0);
    EXPECT_EQ(playback.warmTotal().get(), 0);  // the warm-up is over
    EXPECT_TRUE(show->isLoading.get());
    loop.advance(3.0);
    EXPECT_EQ(slot(0, 6).name, "d");
    EXPECT_FALSE(show->isLoading.get());
}

TEST_F(Import, AMissingSlotKeepsItsReferenceAndIsSkipped) {
    playback.warmReadyAnswer = true;
    slot(0, 0).isFileMissing = true;
    show->showImport().handleDrop(files({"a.mov"}), 0, 0);
    loop.advance(1.0);
    EXPECT_EQ(slot(0, 1).name, "a");
    EXPECT_FALSE(slot(0, 1).isFileMissing);
    EXPECT_TRUE(dialogs.calls.empty());  // no "File Not Found" during the check
}

TEST_F(Import, LateThumbnailsLandOnlyOnTheClipTheyWereMadeFor) {
    playback.warmReadyAnswer = true;
    importer.thumbnailDelay = 3.0;
    show->showImport().handleDrop(files({"a.mov", "b.mov"}), 0, 0);
    loop.advance(1.0);
    load(0, 1, "other.mov");
    slot(0, 1).thumbnail.reset();
    loop.advance(3.0);
    EXPECT_EQ(slot(0, 0).thumbnail, (std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', 'v'}));
    EXPECT_FALSE(slot(0, 1).thumbnail);
}

TEST_F(Import, AProjectReplacedMidImportReceivesNothing) {
    importer.probes["/drop/b.mov"].delay = 2.0;
    show->showImport().handleDrop(files({"a.mov", "b.mov", "c.mov"}), 0, 0);
    loop.advance(0.5);
    EXPECT_EQ(slot(0, 0).name, "a");
    dialogs.alertAnswers = {0};  // "Close"
    show->projectIO().closeProject();
    loop.advance(5.0);
    for (int s = 0; s < 3; ++s) {
        EXPECT_FALSE(slot(0, s).videoURL) << s;
    }
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_EQ(linesStartingWith("インポート中断").size(), 1u);
    EXPECT_TRUE(linesStartingWith("インポート完了: b").empty());
}

TEST_F(Import, FiveHundredFilesAtOnceFillWhatIsFreeAndCountTheRest) {
    playback.warmReadyAnswer = true;
    std::vector<std::filesystem::path> many;
    for (int i = 0; i < 500; ++i) {
        many.push_back("/drop/f" + std::to_string(i) + ".mov");
    }
    show->showImport().handleDrop(many, 19, 0);
    EXPECT_EQ(*show->importAlert.get(), "空きスロット不足: 460個");
    loop.advance(60.0);
    EXPECT_EQ(slot(19, 39).name, "f39");
    EXPECT_FALSE(show->isLoading.get());
}

}  // namespace
}  // namespace kestio::test
