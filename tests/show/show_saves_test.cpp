// Saves while other work runs, saves that the disk refuses, and a package with very many
// missing files: the project in memory is never lost and the package on disk never damaged.

#include <sys/resource.h>

#include <csignal>
#include <string>

#include "show/project_io.h"
#include "show/show_import.h"
#include "show_project_fixture.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

class ShowSaves : public ShowProjectFixture {
  protected:
    // Saves in place and waits for the outcome (the log line or the alert).
    void saveInPlace() {
        const std::size_t alerts = dialogs.callsOf("alert").size();
        const auto lines = playback.logLines.size();
        show->projectIO().saveProject();
        ASSERT_TRUE(waitFor([&] {
            return dialogs.callsOf("alert").size() > alerts || playback.logLines.size() > lines;
        }));
    }
    // The informative text of the last alert with this message.
    std::string informativeOf(const std::string& message) const {
        std::string found;
        for (const auto& call : dialogs.callsOf("alert")) {
            if (call.texts.at(0) == message) {
                found = call.texts.at(1);
            }
        }
        return found;
    }
    static std::string text(const fs::path& file) {
        std::ifstream in(file);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
};

TEST_F(ShowSaves, ASaveDuringAnImportHoldsTheSlotsFilledSoFarAndNothingHalfWritten) {
    const fs::path package = writePackage(ProjectData(4, 10), "Import.ktshow");
    ASSERT_NO_FATAL_FAILURE(open(package));
    const fs::path a = media("in/a.mov"), b = media("in/b.mov"), c = media("in/c.mov");
    importer.probes[b] = {std::nullopt, 1.0, false};
    importer.probes[c] = {std::nullopt, 0.0, true};  // never answers
    show->showImport().handleDrop({a, b, c}, 0, 0);
    ASSERT_TRUE(waitFor([&] { return show->project().banks[0].slots[0].videoURL.has_value(); }));
    ASSERT_NO_FATAL_FAILURE(saveInPlace());
    ProjectData saved = projectManager.load(package);
    EXPECT_EQ(saved.banks[0].slots[0].name, "a");
    EXPECT_TRUE(saved.banks[0].slots[0].clipInfo.has_value());
    EXPECT_FALSE(saved.banks[0].slots[1].bookmarkData.has_value());
    EXPECT_EQ(saved.banks[0].slots[1].name, "002");
    EXPECT_FALSE(saved.banks[0].slots[2].bookmarkData.has_value());
}

TEST_F(ShowSaves, ASaveDuringAWarmUpWritesTheProjectAsItIs) {
    ProjectData project(4, 10);
    project.banks[0].slots[0] = slotFor(media("w/one.mov"));
    project.banks[3].slots[7] = slotFor(media("w/two.mov"));
    const fs::path package = writePackage(project, "Warm.ktshow");
    ASSERT_NO_FATAL_FAILURE(open(package));
    loop.runPending();
    ASSERT_TRUE(show->isLoading.get());  // the warm-up waits for its first slot
    const ProjectData before = projectManager.load(package);
    ASSERT_NO_FATAL_FAILURE(saveInPlace());
    EXPECT_TRUE(logged("プロジェクト上書き保存: Warm.ktshow"));
    EXPECT_EQ(projectManager.load(package), before);
}

TEST_F(ShowSaves, ADiskThatFillsUpFailsTheSaveAndKeepsTheOldDocument) {
    ProjectData project(4, 10);
    for (auto& bank : project.banks) {
        for (auto& slot : bank.slots) {
            slot.name = std::string(200, 'n');  // a document of some 200 kB
        }
    }
    const fs::path package = writePackage(project, "Full.ktshow");
    ASSERT_NO_FATAL_FAILURE(open(package));
    const std::string document = text(package / "data.json");
    dialogs.textAnswers = {std::string("Edited")};
    show->renameBank(0);

    // Files may grow to 64 kB only: the new document cannot be written.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{64 * 1024, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    saveInPlace();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(alerted(L("保存に失敗しました", "Save Failed")));
    // Why, in the interface's language (Japanese here), not in the library's words.
    EXPECT_NE(informativeOf(L("保存に失敗しました", "Save Failed"))
                  .find("ディスクの空き容量が足りません。"),
              std::string::npos);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_EQ(show->project().banks[0].name, "Edited");  // the project in memory is kept
    EXPECT_EQ(text(package / "data.json"), document);    // the old document is whole
    ASSERT_NO_FATAL_FAILURE(saveInPlace());
    EXPECT_EQ(projectManager.load(package).banks[0].name, "Edited");
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

// Saves asked for faster than the disk writes them (Ctrl+S pressed twice, an edit between):
// each finds the document the one before wrote, which is this window's own, and asks nothing.
TEST_F(ShowSaves, SavesInQuickSuccessionWriteTheLastShowWithoutAQuestion) {
    const fs::path package = writePackage(ProjectData(4, 10), "Quick.ktshow");
    ASSERT_NO_FATAL_FAILURE(open(package));
    dialogs.textAnswers = {std::string("First"), std::string("Second")};
    show->renameBank(0);
    show->projectIO().saveProject();
    show->projectIO().saveProject();
    show->renameBank(0);
    show->projectIO().saveProject();
    ASSERT_TRUE(waitFor([&] {
        return logCount("プロジェクト上書き保存: Quick.ktshow") == 3 ||
               !dialogs.callsOf("alert").empty();
    }));
    EXPECT_TRUE(dialogs.callsOf("alert").empty()) << dialogs.callsOf("alert").front().texts.at(0);
    EXPECT_EQ(projectManager.load(package).banks[0].name, "Second");
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

// The pictures cannot be written, the show can: it is saved, and the operator is told that its
// pictures were not.
TEST_F(ShowSaves, APackageWhoseThumbnailsFolderIsAFileSavesTheShowAndWarnsOfThePictures) {
    const fs::path package = writePackage(ProjectData(4, 10), "Odd.ktshow");
    ASSERT_NO_FATAL_FAILURE(open(package));
    fs::remove_all(package / "thumbnails");
    folder.write("Odd.ktshow/thumbnails", "in the way");
    dialogs.textAnswers = {std::string("Edited")};
    show->renameBank(0);
    ASSERT_NO_FATAL_FAILURE(saveInPlace());
    ASSERT_TRUE(waitFor([&] { return alerted("サムネイルを保存できませんでした"); }));
    EXPECT_FALSE(alerted(L("保存に失敗しました", "Save Failed")));
    EXPECT_NE(informativeOf("サムネイルを保存できませんでした").find("邪魔をしています"),
              std::string::npos);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_EQ(projectManager.load(package).banks[0].name, "Edited");
}

TEST_F(ShowSaves, TenThousandMissingFilesAreListedFifteenAtATime) {
    ProjectData project(10, 50);  // 20 banks of 500 slots
    const fs::path gone = media("gone/x.mov");
    const auto bookmark = bookmarks.bookmarkData(gone);
    for (auto& bank : project.banks) {
        for (auto& slot : bank.slots) {
            slot.bookmarkData = bookmark;
        }
    }
    const fs::path package = writePackage(project, "Ten.ktshow");
    fs::remove(gone);
    ASSERT_NO_FATAL_FAILURE(open(package));
    ASSERT_TRUE(logged("⚠️ ファイルロスト: 10000件"));
    const auto alert = dialogs.lastOf("alert");
    EXPECT_NE(alert.texts.at(1).find(L("\n…他9985件", "\n…and 9985 more")), std::string::npos);
    EXPECT_LT(alert.texts.at(1).size(), 2000u);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

}  // namespace
}  // namespace kestio::test
