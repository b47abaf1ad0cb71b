// The package on disk changes only when the operator saves: edits, imports and new pictures
// stay in memory until then, a close without saving leaves the package as it was, and only the
// operator's edits keep a save from clearing the unsaved mark.

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "model/project_manager.h"
#include "show/media_check.h"
#include "show/project_io.h"
#include "show/show_import.h"
#include "show_project_fixture.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Every file of a folder and below (but the play log), with the size and a hash of its content.
std::map<std::string, std::string> contentsOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(e.path(), root).string();
        if (e.is_regular_file() && name != "app.log") {
            std::ifstream in(e.path(), std::ios::binary);
            const std::string content(std::istreambuf_iterator<char>(in), {});
            files[name] = std::to_string(content.size()) + " bytes, hash " +
                          std::to_string(std::hash<std::string>{}(content));
        }
    }
    return files;
}

class ShowPackageChanges : public ShowProjectFixture {
  protected:
    ShowPackageChanges() {
        playback.warmReadyAnswer = true;
        ProjectData project(4, 10);
        project.banks[0].slots[0] = slotFor(a);
        project.banks[0].slots[0].thumbnail = bytesOf("picture of a");
        project.banks[0].slots[1] = slotFor(b);
        project.banks[0].slots[1].thumbnail = bytesOf("picture of b");
        // As saves named pictures before: by position, and the slot holds no picture now.
        project.banks[0].slots[3] = slotFor(d);
        project.banks[0].slots[3].thumbnailFileName = "thumb_0_3.png";
        package = writePackage(project, "Show.ktshow");
        folder.write("Show.ktshow/thumbnails/thumb_0_3.png", "picture of d");
        open(package);
        show->hasUnsavedChanges = false;
    }

    // Deletes a clip, imports one into a free slot and one in place of a deleted clip (that
    // one without a picture), and takes a new picture of a clip; waits until all is done.
    void editPictures() {
        show->deleteClip(0, 0);
        show->deleteClip(0, 3);
        importer.probes[e] = {ImportOutcome(withoutPicture(e)), 0.0, false};
        importer.thumbnails[e] = std::nullopt;
        show->showImport().handleDrop({c, e}, 0, 2);
        ASSERT_TRUE(waitFor([&] { return slotAt(0, 3).videoURL && !show->isLoading.get(); }));
        show->mediaCheck().rescanClip(b, 0, 1);
        ASSERT_TRUE(waitFor([&] { return importer.requestCount("regeneratePreview") == 1; }));
        loop.runPending();
        ASSERT_TRUE(show->hasUnsavedChanges.get());
        ASSERT_EQ(slotAt(0, 2).name, "c");
        ASSERT_EQ(slotAt(0, 3).name, "e");
    }

    static ImportResult withoutPicture(const fs::path& file) {
        ImportResult result = FakeShowImporter::result(file, MediaType::video);
        result.thumbnail.reset();
        return result;
    }

    const SlotData& slotAt(int bank, int index) {
        return show->project().banks[std::size_t(bank)].slots[std::size_t(index)];
    }

    // Opens another package: the disk work asked for before it has ended once it is open.
    void openAnother() { open(writePackage(ProjectData(4, 10), "Other.ktshow")); }

    fs::path a = media("m/a.mov"), b = media("m/b.mov"), c = media("m/c.mov"), d = media("m/d.mov"),
             e = media("m/e.mov");
    fs::path package;
};

TEST_F(ShowPackageChanges, AClosedProjectLeavesItsPackageAsItWasOpened) {
    const auto before = contentsOf(package);
    editPictures();
    dialogs.alertAnswers = {0};  // Close
    show->projectIO().closeProject();
    openAnother();
    EXPECT_EQ(contentsOf(package), before);
}

TEST_F(ShowPackageChanges, ASaveWritesThePicturesHeldSinceAndLeavesNoneOfTheClipsGone) {
    editPictures();
    show->projectIO().saveProject();
    ASSERT_TRUE(waitFor([&] { return logged("プロジェクト上書き保存: Show.ktshow"); }));
    EXPECT_FALSE(show->hasUnsavedChanges.get());

    const ProjectData saved = projectManager.load(package);
    const auto& slots = saved.banks[0].slots;
    EXPECT_FALSE(slots[0].thumbnail);
    EXPECT_EQ(slots[1].thumbnail, (Bytes{0x89, 'P', 'N', 'G', 'r'}));  // the new picture
    EXPECT_EQ(slots[2].thumbnail, (Bytes{0x89, 'P', 'N', 'G', 'v'}));  // the import's
    EXPECT_FALSE(slots[3].thumbnail);  // not the picture of the clip the slot held before
    std::set<std::string> named;
    for (const auto& slot : slots) {
        if (slot.thumbnailFileName) {
            named.insert(*slot.thumbnailFileName);
        }
    }
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(package / "thumbnails")) {
        files.insert(entry.path().filename().string());
    }
    EXPECT_EQ(files, named);
    EXPECT_EQ(files.size(), 2u);
}

TEST_F(ShowPackageChanges, ResultsLandingWhileTheProjectIsWrittenLeaveNoUnsavedMark) {
    // A waveform asked for before the save lands before the save's answer is taken.
    show->editProject([](ProjectData& p) { p.banks[0].slots[0].waveformData.reset(); }, true);
    show->playSlot(0, 0);
    show->projectIO().saveProject();
    ASSERT_TRUE(waitFor([&] { return logged("プロジェクト上書き保存: Show.ktshow"); }));
    ASSERT_TRUE(slotAt(0, 0).waveformData);
    EXPECT_FALSE(show->hasUnsavedChanges.get()) << "a waveform";

    // A rescan's picture due before the save's answer.
    playback.logLines.clear();
    importer.thumbnailDelay = 1.0;
    show->mediaCheck().rescanClip(b, 0, 1);
    ASSERT_TRUE(waitFor([&] { return importer.requestCount("regeneratePreview") == 1; }));
    loop.stall(1.0);
    show->projectIO().saveProject();
    ASSERT_TRUE(waitFor([&] { return logged("プロジェクト上書き保存: Show.ktshow"); }));
    ASSERT_EQ(slotAt(0, 1).thumbnail, (Bytes{0x89, 'P', 'N', 'G', 'r'}));
    EXPECT_FALSE(show->hasUnsavedChanges.get()) << "a picture";
}

}  // namespace
}  // namespace kestio::test
