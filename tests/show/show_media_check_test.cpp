#include <chrono>
#include <string>

#include "model/reference_date.h"
#include "show/media_check.h"
#include "show/media_check_text.h"
#include "show/media_file_check.h"
#include "show/project_io.h"
#include "show_project_fixture.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

class ShowMediaCheck : public ShowProjectFixture {
  protected:
    void SetUp() override { playback.warmReadyAnswer = true; }

    const SlotData& slot(int b, int s) const {
        return show->project()
            .banks[static_cast<std::size_t>(b)]
            .slots[static_cast<std::size_t>(s)];
    }
    std::vector<ScriptedDialogPresenter::Call> alertsTitled(const std::string& message) const {
        std::vector<ScriptedDialogPresenter::Call> found;
        for (const auto& call : dialogs.callsOf("alert")) {
            if (call.texts.at(0) == message) {
                found.push_back(call);
            }
        }
        return found;
    }
    static std::string missingTitle() {
        return L("メディアファイルが見つかりません", "Missing Media Files");
    }
    static std::string relinkTitle() { return L("再リンク完了", "Relink Complete"); }
    static AppLanguage language() { return LocalizationManager::shared().language.get(); }

    // Relinks from `from` and waits for the report.
    void relink(const fs::path& from) {
        const std::size_t before = alertsTitled(relinkTitle()).size();
        dialogs.pathAnswers.push_back(from);
        show->mediaCheck().relinkFromFolder();
        ASSERT_TRUE(waitFor([&] { return alertsTitled(relinkTitle()).size() > before; }));
    }
};

TEST_F(ShowMediaCheck, RenamedAndMovedFilesAreMissingAndMovedOnesRelinkFromTheirFolder) {
    ProjectData project(4, 10);
    for (int i = 0; i < 6; ++i) {
        project.banks[0].slots[static_cast<std::size_t>(i)] =
            slotFor(media("clips/c" + std::to_string(i) + ".mov"));
    }
    const fs::path package = writePackage(project, "Six.ktshow");
    fs::rename(folder / "clips/c0.mov", folder / "clips/c0 final.mov");
    fs::rename(folder / "clips/c1.mov", folder / "clips/c1 final.mov");
    fs::create_directories(folder / "moved/deep/er");
    for (int i : {2, 3, 4}) {
        const std::string name = "c" + std::to_string(i) + ".mov";
        fs::rename(folder / "clips" / name, folder / (i == 4 ? "moved/" : "moved/deep/er/") / name);
    }
    media("moved/c3.txt");  // a same-named file that is not media
    ASSERT_NO_FATAL_FAILURE(open(package));

    const auto missing = alertsTitled(missingTitle());
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].style, platform::DialogPresenter::AlertStyle::warning);
    EXPECT_EQ(missing[0].texts.at(1),
              missingMediaText({"BANK 1 / c0（ファイル名が変更されています）",
                                "BANK 1 / c1（ファイル名が変更されています）", "BANK 1 / c2",
                                "BANK 1 / c3", "BANK 1 / c4"},
                               language()));
    EXPECT_TRUE(logged("⚠️ ファイルロスト: 5件"));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(slot(0, i).isFileMissing, i < 5) << i;
    }
    EXPECT_FALSE(show->hasUnsavedChanges.get());  // the check marks nothing unsaved

    relink(folder / "moved");
    EXPECT_TRUE(logged("🔗 再リンク: 3件成功 / 2件未発見"));
    const auto reports = alertsTitled(relinkTitle());
    ASSERT_FALSE(reports.empty());
    const auto report = reports.back();
    EXPECT_EQ(report.style, platform::DialogPresenter::AlertStyle::informational);
    EXPECT_EQ(report.texts.at(1), relinkReportText(3, {"BANK 1 / c0", "BANK 1 / c1"}, language()));
    EXPECT_EQ(slot(0, 3).videoURL, folder / "moved/deep/er/c3.mov");
    EXPECT_EQ(slot(0, 4).videoURL, folder / "moved/c4.mov");
    EXPECT_FALSE(slot(0, 2).isFileMissing);
    EXPECT_TRUE(slot(0, 0).isFileMissing);
    EXPECT_TRUE(show->hasUnsavedChanges.get());

    // The relinked slots reopen found: their new bookmarks were saved.
    dialogs.alertAnswers.clear();
    show->projectIO().saveProject();
    ASSERT_TRUE(waitFor([&] { return logged("プロジェクト上書き保存: Six.ktshow"); }));
    const ProjectData reread = projectManager.load(package);
    EXPECT_EQ(reread.banks[0].slots[4].videoURL, folder / "moved/c4.mov");
}

TEST_F(ShowMediaCheck, SixteenOrMoreMissingSlotsListFifteenAndCountTheRest) {
    ProjectData project(4, 10);
    for (int i = 0; i < 17; ++i) {
        auto& data = project.banks[1].slots[static_cast<std::size_t>(i)];
        data = slotFor(media("gone/" + std::to_string(i) + "_Clip.mov"));
    }
    const fs::path package = writePackage(project, "Gone.ktshow");
    fs::remove_all(folder / "gone");
    ASSERT_NO_FATAL_FAILURE(open(package));
    const std::string text = alertsTitled(missingTitle()).at(0).texts.at(1);
    EXPECT_NE(text.find("BANK 2 / Clip"), std::string::npos);
    EXPECT_NE(text.find(language() == AppLanguage::en ? "\n…and 2 more" : "\n…他2件"),
              std::string::npos);
    EXPECT_TRUE(logged("⚠️ ファイルロスト: 17件"));
    EXPECT_TRUE(playback.callsStartingWith("play").empty());  // no URL: nothing to warm up
}

TEST_F(ShowMediaCheck, AFoundFileClearsAnEarlierMissingMarkWithoutAnAlert) {
    ProjectData project(4, 10);
    project.banks[0].slots[0] = slotFor(media("here/Clip.mov"));
    project.banks[0].slots[0].isFileMissing = true;  // run-time only: never saved
    ASSERT_NO_FATAL_FAILURE(open(writePackage(project, "Here.ktshow")));
    EXPECT_FALSE(slot(0, 0).isFileMissing);
    EXPECT_TRUE(alertsTitled(missingTitle()).empty());
    EXPECT_FALSE(logged("⚠️ ファイルロスト: 0件"));
}

class ShowRescan : public ShowMediaCheck {
  protected:
    // A probed video slot whose recorded date is `offset` seconds from the file's.
    fs::path openWithShiftedDate(double offset, MediaType type = MediaType::video) {
        file = media("rescan/03_Clip.mov");
        ProjectData project(4, 10);
        SlotData& data = project.banks[2].slots[1];
        data = slotFor(file);
        data.mediaType = type;
        data.outPoint = 5.0;
        data.inPoint = 0.5;
        data.clipInfo = ClipInfo{};
        data.clipInfo->duration = 10.0;
        data.clipInfo->sourceModifiedAt = *contentModificationDate(file) + offset;
        ImportResult result = FakeShowImporter::result(file, MediaType::video);
        result.clipInfo.duration = 2.0;
        result.clipInfo.fps = 25.0;
        importer.probes[file] = {scripted.value_or(ImportOutcome(result)), 0.5, false};
        importer.thumbnails[file] = std::vector<std::uint8_t>{'n', 'e', 'w'};
        const fs::path package =
            writePackage(project, "Rescan" + std::to_string(++opened) + ".ktshow");
        open(package);
        return package;
    }
    fs::path file;
    std::optional<ImportOutcome> scripted;
    int opened = 0;
};

TEST_F(ShowRescan, AVideoChangedOnDiskIsProbedAgainAndItsOutPointClamped) {
    const fs::path package = openWithShiftedDate(1.5);
    EXPECT_TRUE(logged("♻️ ファイル更新を検知、再スキャン: Clip"));
    loop.advance(0.5);
    ASSERT_TRUE(waitFor([&] { return logged("✅ 再スキャン完了: Clip duration=2.0s fps=25.0"); }));
    EXPECT_EQ(slot(2, 1).clipInfo->duration, 2.0);
    EXPECT_EQ(slot(2, 1).outPoint, 2.0);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_EQ(slot(2, 1).thumbnail, (std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_EQ(slot(2, 1).thumbnailFileName, "thumb_2_1.png");
    EXPECT_EQ(importer.requestCount("importMeta"), 1u);
    // The new picture reaches the package with the next save.
    bool saved = false;
    show->projectIO().saveProject([&](bool done) { saved = done; });
    ASSERT_TRUE(waitFor([&] { return saved; }));
    EXPECT_EQ(projectManager.load(package).banks[2].slots[1].thumbnail,
              (std::vector<std::uint8_t>{'n', 'e', 'w'}));
}

TEST_F(ShowRescan, ASmallDateDifferenceOrAStillIsNotProbedAgain) {
    openWithShiftedDate(0.5);
    openWithShiftedDate(-0.5);
    openWithShiftedDate(30.0, MediaType::still);
    loop.advance(1.0);
    EXPECT_EQ(importer.requestCount("importMeta"), 0u);
}

TEST_F(ShowRescan, AProbeAnsweringAfterTheSlotWasClearedChangesNothing) {
    openWithShiftedDate(-1.5);
    show->deleteClip(2, 1);
    show->hasUnsavedChanges = false;
    loop.advance(0.5);
    loop.runPending();
    EXPECT_FALSE(slot(2, 1).clipInfo.has_value());
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_FALSE(logged("✅ 再スキャン完了: Clip duration=2.0s fps=25.0"));
}

TEST_F(ShowRescan, AFailedProbeOnlyWritesItsLine) {
    const ImportError error = ImportError::loadFailed(folder / "rescan/03_Clip.mov", "broken");
    scripted = ImportOutcome(error);
    openWithShiftedDate(2.0);
    loop.advance(0.5);
    ASSERT_TRUE(waitFor(
        [&] { return logged("⚠️ 再スキャン失敗: Clip - " + error.description()); }));
    EXPECT_EQ(slot(2, 1).clipInfo->duration, 10.0);
    EXPECT_EQ(slot(2, 1).outPoint, 5.0);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_EQ(importer.requestCount("regeneratePreview"), 0u);
}

TEST_F(ShowMediaCheck, ARelinkThatFindsNothingWarnsAndLeavesTheMarkAlone) {
    ProjectData project(4, 10);
    project.banks[0].slots[0] = slotFor(media("a/Intro.mov"));
    const fs::path package = writePackage(project, "Nothing.ktshow");
    fs::remove(folder / "a/Intro.mov");
    ASSERT_NO_FATAL_FAILURE(open(package));
    media("b/intro.mov");  // another letter case: no match
    media("b/Intro.txt");
    relink(folder / "b");
    const auto reports = alertsTitled(relinkTitle());
    ASSERT_FALSE(reports.empty());
    const auto report = reports.back();
    EXPECT_EQ(report.style, platform::DialogPresenter::AlertStyle::warning);
    EXPECT_EQ(report.texts.at(1), relinkReportText(0, {"BANK 1 / Intro"}, language()));
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_TRUE(logged("🔗 再リンク: 0件成功 / 1件未発見"));

    // With nothing missing, the report says 0 without a list.
    show->deleteClip(0, 0);
    relink(folder / "b");
    ASSERT_GT(alertsTitled(relinkTitle()).size(), reports.size());
    EXPECT_EQ(alertsTitled(relinkTitle()).back().texts.at(1), relinkReportText(0, {}, language()));

    // A folder that cannot be opened.
    dialogs.pathAnswers.push_back(folder / "no such folder");
    show->mediaCheck().relinkFromFolder();
    ASSERT_TRUE(waitFor([&] {
        return !alertsTitled(L("フォルダにアクセスできません", "Failed to Access Folder")).empty();
    }));
    EXPECT_EQ(dialogs.lastOf("alert").style, platform::DialogPresenter::AlertStyle::critical);
}

}  // namespace
}  // namespace kestio::test

namespace kestio::test {
namespace {

TEST_F(ShowMediaCheck, ASlotClearedDuringTheFolderSearchIsNotRelinked) {
    ProjectData project(4, 10);
    project.banks[0].slots[0] = slotFor(media("a/Intro.mov"));
    project.banks[0].slots[1] = slotFor(media("a/Outro.mov"));
    const fs::path package = writePackage(project, "Cleared.ktshow");
    fs::remove_all(folder / "a");
    ASSERT_NO_FATAL_FAILURE(open(package));
    media("b/Intro.mov");
    media("b/Outro.mov");
    dialogs.pathAnswers.push_back(folder / "b");
    show->mediaCheck().relinkFromFolder();
    show->deleteClip(0, 0);  // before the search's answer is taken
    ASSERT_TRUE(waitFor([&] { return !alertsTitled(relinkTitle()).empty(); }));
    EXPECT_EQ(slot(0, 0).name, "001");
    EXPECT_FALSE(slot(0, 0).bookmarkData.has_value());
    EXPECT_EQ(slot(0, 1).videoURL, folder / "b/Outro.mov");
    EXPECT_TRUE(logged("🔗 再リンク: 1件成功 / 0件未発見"));
}

}  // namespace
}  // namespace kestio::test

namespace kestio::test {
namespace {

TEST_F(ShowMediaCheck, ASlotEditedWhileItsFileIsLookedAtKeepsTheEdit) {
    ProjectData project(4, 10);
    project.banks[0].slots[0] = slotFor(media("a/Intro.mov"));
    const fs::path package = writePackage(project, "Edited.ktshow");
    fs::remove_all(folder / "a");
    ASSERT_NO_FATAL_FAILURE(open(package));
    ASSERT_EQ(alertsTitled(missingTitle()).size(), 1u);
    show->mediaCheck().checkMissingMedia();
    show->deleteClip(0, 0);  // before the check's answer is taken
    dialogs.pathAnswers.push_back(folder / "nowhere");
    show->mediaCheck().relinkFromFolder();  // its answer comes after the check's (one disk worker)
    ASSERT_TRUE(waitFor([&] {
        return !alertsTitled(L("フォルダにアクセスできません", "Failed to Access Folder")).empty();
    }));
    EXPECT_EQ(alertsTitled(missingTitle()).size(), 1u);
    EXPECT_FALSE(slot(0, 0).isFileMissing);
    EXPECT_EQ(slot(0, 0).name, "001");
}

}  // namespace
}  // namespace kestio::test
