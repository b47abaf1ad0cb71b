// The show's project, missing-media, relink, rescan and warm-up operations on real packages,
// generated clips, the real clip importer and the real playback controller on the null audio
// device.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "model/localization_manager.h"
#include "model/project_manager.h"
#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "playback/playback_controller.h"
#include "show/media_check.h"
#include "show/project_io.h"
#include "show/show_controller.h"
#include "show/show_import.h"
#include "support/declared_png.h"
#include "support/live_show_rig.h"
#include "support/media_fixtures.h"
#include "support/scripted_dialog_presenter.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

class ShowOnRealMedia : public ::testing::Test {
  protected:
    TemporaryFolder folder;
    platform::ManualRunLoop loop;
    platform::LoopbackMIDISystem midiSystem{loop};
    LiveShowRig rig{loop, midiSystem};
    PlaybackController& controller = rig.controller;
    ScriptedDialogPresenter& dialogs = rig.parts.dialogs;
    std::unique_ptr<ShowController>& show = rig.show;

    // A clip of `seconds` at 25 fps with a tone, made with ffmpeg.
    fs::path clip(const std::string& relative, double seconds) {
        const fs::path file = folder / relative;
        fs::create_directories(file.parent_path());
        const auto result = writeToneClip(file, seconds);
        EXPECT_TRUE(result.succeeded()) << result.errorOutput;
        return file;
    }

    // Runs the loop, moving virtual time on by small steps, until `done` holds.
    template <typename Done>
    bool runUntil(Done done, double virtualLimit = 60.0) {
        for (double moved = 0; moved < virtualLimit;) {
            loop.runPending();
            if (done()) {
                return true;
            }
            if (!loop.waitForPosted(0.02)) {
                loop.advance(0.02);
                moved += 0.02;
            }
        }
        return done();
    }

    // Whether the play log of the open package holds the message (its writer thread appends
    // lines as they come).
    bool logged(const std::string& message) const {
        const auto package = show->currentProjectURL.get();
        if (!package) {
            return false;
        }
        std::ifstream in(*package / "app.log");
        for (std::string line; std::getline(in, line);) {
            if (line.size() >= message.size() &&
                line.compare(line.size() - message.size(), message.size(), message) == 0) {
                return true;
            }
        }
        return false;
    }

    SlotData probed(const fs::path& file) {
        std::optional<ImportOutcome> outcome;
        rig.clipImporter.importMeta(file, 0.0, [&](ImportOutcome o) { outcome = std::move(o); });
        EXPECT_TRUE(runUntil([&] { return outcome.has_value(); }));
        const auto& result = std::get<ImportResult>(*outcome);
        SlotData slot;
        slot.name = result.name;
        slot.bookmarkData = result.bookmark;
        slot.videoURL = result.url;
        slot.mediaType = result.mediaType;
        slot.clipInfo = result.clipInfo;
        return slot;
    }

    const SlotData& slot(int b, int s) const {
        return show->project().banks[std::size_t(b)].slots[std::size_t(s)];
    }
};

TEST_F(ShowOnRealMedia, RenamedAndMovedClipsAreFoundMissingRelinkedAndPlay) {
    ProjectData project(4, 10);
    for (int i = 0; i < 6; ++i) {
        project.banks[0].slots[std::size_t(i)] =
            probed(clip("clips/c" + std::to_string(i) + ".mp4", 1.0));
    }
    const fs::path package = rig.parts.projectManager.save(project, folder / "Six.ktshow");
    fs::rename(folder / "clips/c0.mp4", folder / "clips/c0 take 2.mp4");
    fs::rename(folder / "clips/c1.mp4", folder / "clips/c1 take 2.mp4");
    fs::create_directories(folder / "moved/deeper");
    for (int i : {2, 3, 4}) {
        fs::rename(folder / ("clips/c" + std::to_string(i) + ".mp4"),
                   folder / "moved/deeper" / ("c" + std::to_string(i) + ".mp4"));
    }
    dialogs.alertAnswers = {1, 1, 1};  // Later; then skip the two renamed clips in the warm-up
    show->projectIO().loadProject(package);
    // The warm-up meets the two renamed clips (skipped as told) and warms the sixth.
    ASSERT_TRUE(runUntil([&] { return logged("ウォームアップ完了 (3件)"); }));
    EXPECT_TRUE(logged("再生: BANK[BANK 1] SLOT[6] c5 postRoll=freeze"));
    const auto missing = dialogs.callsOf("alert").at(0);
    EXPECT_NE(missing.texts.at(1).find("BANK 1 / c0（ファイル名が変更されています）"),
              std::string::npos);
    EXPECT_NE(missing.texts.at(1).find("BANK 1 / c4\n"), std::string::npos);
    EXPECT_TRUE(runUntil([&] { return logged("⚠️ ファイルロスト: 5件"); }));
    EXPECT_EQ(controller.warmTotal.get(), 0);
    EXPECT_FALSE(controller.currentSlotIndex.get().has_value());  // the output is black

    dialogs.pathAnswers = {folder / "moved"};
    show->mediaCheck().relinkFromFolder();
    ASSERT_TRUE(runUntil([&] { return logged("🔗 再リンク: 3件成功 / 2件未発見"); }));
    for (int i : {2, 3, 4}) {
        EXPECT_FALSE(slot(0, i).isFileMissing);
        show->playSlot(0, i);
        ASSERT_TRUE(runUntil([&] { return controller.currentSlotIndex.get() == i; })) << i;
    }
    EXPECT_EQ(controller.selectedClipName.get(), "c4");
}

TEST_F(ShowOnRealMedia, TheWarmUpPlaysEveryClipHiddenAndLeavesTheOutputBlack) {
    ProjectData project(4, 10);
    const std::vector<std::pair<int, int>> order = {{0, 1}, {0, 4}, {0, 9}, {2, 0}};
    for (const auto& [b, s] : order) {
        project.banks[std::size_t(b)].slots[std::size_t(s)] =
            probed(clip("warm/b" + std::to_string(b) + "s" + std::to_string(s) + ".mp4", 1.0));
    }
    const fs::path package = rig.parts.projectManager.save(project, folder / "Warm.ktshow");
    std::vector<int> progress;
    auto watching = controller.warmDone.subscribe([&](int done) { progress.push_back(done); });
    show->projectIO().loadProject(package);
    ASSERT_TRUE(runUntil([&] { return logged("ウォームアップ完了 (4件)"); }));
    EXPECT_EQ(progress, (std::vector<int>{0, 1, 2, 3, 4, 0}));
    for (const auto& [b, s] : order) {
        const std::string name = "b" + std::to_string(b) + "s" + std::to_string(s);
        EXPECT_TRUE(logged("再生: BANK[BANK " + std::to_string(b + 1) + "] SLOT[" +
                           std::to_string(s + 1) + "] " + name + " postRoll=freeze"))
            << name;
    }
    EXPECT_FALSE(controller.currentSlotIndex.get().has_value());
    EXPECT_FALSE(controller.isWarming());
    EXPECT_FALSE(controller.isMuted.get());
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(ShowOnRealMedia, AClipReplacedOnDiskIsProbedAgainAndItsOutPointClamped) {
    const fs::path file = clip("rescan/Clip.mp4", 3.0);
    ProjectData project(4, 10);
    SlotData data = probed(file);
    ASSERT_NEAR(data.clipInfo->duration, 3.0, 0.1);
    data.outPoint = 2.5;
    project.banks[1].slots[2] = data;
    const fs::path package = rig.parts.projectManager.save(project, folder / "Rescan.ktshow");
    // New content of another length, in place, dated later.
    const fs::path shorter = clip("rescan/new.mp4", 1.0);
    fs::rename(shorter, file);
    fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));

    show->projectIO().loadProject(package);
    ASSERT_TRUE(runUntil([&] {
        return show->currentProjectURL.get() && slot(1, 2).clipInfo &&
               slot(1, 2).clipInfo->duration < 2.0;
    }));
    EXPECT_NEAR(slot(1, 2).clipInfo->duration, 1.0, 0.1);
    EXPECT_EQ(slot(1, 2).outPoint, slot(1, 2).clipInfo->duration);
    EXPECT_TRUE(runUntil(
        [&] { return logged("♻️ ファイル更新を検知、再スキャン: Clip"); }));
    EXPECT_TRUE(show->hasUnsavedChanges.get()) << "unsaved";
    // A new picture of the new content, held in the project until it is saved.
    ASSERT_TRUE(runUntil([&] { return slot(1, 2).thumbnail != data.thumbnail; }));
    EXPECT_TRUE(slot(1, 2).thumbnail);
}

// A new render copied over the clip with the old date kept (as a copy that keeps dates does) is
// told by its size: it is probed again, and its slot's bookmark renewed, so that the next open
// finds nothing changed.
TEST_F(ShowOnRealMedia, AClipCopiedOverWithItsDateKeptIsProbedAgainOnce) {
    const fs::path file = clip("kept/Clip.mp4", 3.0);
    ProjectData project(4, 10);
    project.banks[0].slots[0] = probed(file);
    const fs::path package = rig.parts.projectManager.save(project, folder / "Kept.ktshow");
    const auto date = fs::last_write_time(file);
    const fs::path shorter = clip("kept/new.mp4", 1.0);
    fs::copy_file(shorter, file, fs::copy_options::overwrite_existing);
    fs::last_write_time(file, date);

    const auto rescans = [&] {
        std::ifstream in(package / "app.log");
        int count = 0;
        for (std::string line; std::getline(in, line);) {
            count += line.find("♻️ ファイル更新を検知、再スキャン: Clip") !=
                     std::string::npos;
        }
        return count;
    };
    show->projectIO().loadProject(package);
    ASSERT_TRUE(runUntil([&] {
        return slot(0, 0).clipInfo->duration < 2.0 && !show->isLoading.get() &&
               show->hasUnsavedChanges.get();
    }));
    bool saved = false;
    show->projectIO().saveProject([&](bool done) { saved = done; });
    ASSERT_TRUE(runUntil([&] { return saved; }));
    show->projectIO().loadProject(package);
    ASSERT_TRUE(
        runUntil([&] { return logged("ウォームアップ完了 (1件)") && !show->isLoading.get(); }));
    runUntil([] { return false; }, 1.0);
    EXPECT_EQ(rescans(), 1);
    EXPECT_NEAR(slot(0, 0).clipInfo->duration, 1.0, 0.1);
}

// Pictures of one name in several formats: each slot is relinked to the file of its own format;
// a slot whose format is not among them gets the first, probed again so that its facts and
// picture are those of the file it now plays.
TEST_F(ShowOnRealMedia, ARelinkKeepsEachSlotsOwnFormatAndProbesAnotherAgain) {
    const std::vector<std::string> formats = {"png", "heic", "webp", "tiff", "jpg"};
    ProjectData project(4, 10);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        fs::create_directories(folder / "old" / formats[i]);
        const fs::path old = folder.copy(mediaFixtures().still(formats[i]).path,
                                         "old/" + formats[i] + "/still." + formats[i]);
        SlotData data = probed(old);
        // Marks of what the slot knew of its old file.
        data.thumbnail = std::vector<std::uint8_t>{std::uint8_t(i)};
        data.clipInfo->resolution = "old " + formats[i];
        project.banks[0].slots[i] = data;
    }
    const fs::path package = rig.parts.projectManager.save(project, folder / "Stills.ktshow");
    fs::remove_all(folder / "old");
    fs::create_directories(folder / "new");
    for (std::size_t i = 0; i + 1 < formats.size(); ++i) {
        folder.copy(mediaFixtures().still(formats[i]).path, "new/still." + formats[i]);
    }
    dialogs.alertAnswers = {1, 1, 1, 1, 1, 1, 1};
    show->projectIO().loadProject(package);
    ASSERT_TRUE(runUntil([&] { return logged("⚠️ ファイルロスト: 5件"); }));
    ASSERT_TRUE(runUntil([&] { return !show->isLoading.get(); }));
    dialogs.pathAnswers = {folder / "new"};
    show->mediaCheck().relinkFromFolder();
    ASSERT_TRUE(runUntil([&] { return logged("🔗 再リンク: 5件成功 / 0件未発見"); }));
    for (std::size_t i = 0; i + 1 < formats.size(); ++i) {
        const SlotData& relinked = slot(0, int(i));
        EXPECT_EQ(relinked.videoURL, folder / "new" / ("still." + formats[i])) << formats[i];
        EXPECT_EQ(relinked.clipInfo, project.banks[0].slots[i].clipInfo) << formats[i];
        EXPECT_EQ(relinked.thumbnail, std::vector<std::uint8_t>{std::uint8_t(i)}) << formats[i];
    }
    // The JPEG's slot plays the first of them, and knows it for what it is.
    ASSERT_TRUE(runUntil([&] { return slot(0, 4).thumbnail->size() > 1; }));
    EXPECT_EQ(slot(0, 4).videoURL, folder / "new/still.heic");
    EXPECT_EQ(slot(0, 4).clipInfo, probed(folder / "new/still.heic").clipInfo);
    EXPECT_EQ(slot(0, 4).mediaType, MediaType::still);
}

// A folder of good clips with bad files among them: every refused file has its own line in the
// import alert, and the good ones fill their slots.
TEST_F(ShowOnRealMedia, EveryRefusedFileOfAnImportIsNamedOnItsOwnLine) {
    const fs::path good = clip("drop/good.mp4", 0.5);
    const auto& mp4 = mediaFixtures().video("mp4").path;  // its index comes last
    struct Bad {
        const char* name;
        std::string bytes;
        std::string line;  // the line of the alert, or its beginning where a reason follows
    };
    const Bad rows[] = {
        {"empty.mp4", "", "読み込みに失敗しました: empty.mp4\n("},
        {"huge.png", pngDeclaring(16000, 16000), "読み込みに失敗しました: huge.png"},
        {"notes.mp4", "Running order: intro, speech, video, close.\n",
         "読み込みに失敗しました: notes.mp4\n("},
        {"cut.mp4", "", "読み込みに失敗しました: cut.mp4\n("},
    };
    std::vector<fs::path> drop;
    for (int i = 0; i < 6; ++i) {
        drop.push_back(folder.copy(good, "drop/clip" + std::to_string(i) + ".mp4"));
    }
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string name = std::string("drop/") + rows[i].name;
        const fs::path file = name == "drop/cut.mp4"
                                  ? folder.copy(mp4, name, fs::file_size(mp4) / 2)
                                  : folder.write(name, rows[i].bytes);
        drop.insert(drop.begin() + std::ptrdiff_t(1 + i), file);
    }
    show->currentProjectURL =
        rig.parts.projectManager.save(ProjectData(4, 10), folder / "Drop.ktshow");
    show->showImport().handleDrop(drop, 0, 0);
    ASSERT_TRUE(runUntil([&] { return slot(0, 9).videoURL && !show->isLoading.get(); }));
    const std::string alert = show->importAlert.get().value_or("");
    for (const Bad& row : rows) {
        EXPECT_NE(("\n" + alert).find("\n" + row.line), std::string::npos) << row.name << alert;
    }
    std::size_t headings = 0;
    for (std::size_t at = alert.find("読み込みに失敗しました: "); at != std::string::npos;
         at = alert.find("読み込みに失敗しました: ", at + 1)) {
        ++headings;
    }
    EXPECT_EQ(headings, std::size(rows)) << alert;
    for (int s = 0; s < 10; ++s) {
        EXPECT_EQ(slot(0, s).videoURL.has_value(), s == 0 || s >= 5) << s;
    }
}

}  // namespace
}  // namespace kestio::test
