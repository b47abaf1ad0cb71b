#include "show/relink_index.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/storage/bookmark_service.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;

class RelinkSearch : public testing::Test {
  protected:
    test::TemporaryFolder folder;

    fs::path put(const fs::path& relative) {
        fs::create_directories((folder / relative).parent_path());
        return folder.write(relative.string(), "x");
    }
};

TEST_F(RelinkSearch, IndexesMediaFilesAtAnyDepthAndNothingElse) {
    put("Intro.mov");
    put("deep/er/still/Logo.PNG");
    put("audio/Bed.flac");
    put("Intro.txt");
    put("Notes.xml");
    put("noextension");
    put(".hidden/Secret.mov");
    put("visible/.Dot.mov");
    fs::create_directories(folder / "Folder.mov");  // a folder named like a clip
    const RelinkIndex index = buildRelinkIndex(folder.path());
    EXPECT_EQ(index, (RelinkIndex{{"Intro", {folder / "Intro.mov"}},
                                  {"Logo", {folder / "deep/er/still/Logo.PNG"}},
                                  {"Bed", {folder / "audio/Bed.flac"}}}));
}

TEST_F(RelinkSearch, FollowsNoSymbolicLinks) {
    test::TemporaryFolder outside;
    fs::create_directories(outside / "media");
    outside.write("media/Far.mov", "x");
    fs::create_directory_symlink(outside / "media", folder / "linked");
    fs::create_symlink(outside / "media/Far.mov", folder / "Near.mov");
    fs::create_directory_symlink(folder.path(), folder / "loop");  // would never end if followed
    put("Real.mp4");
    EXPECT_EQ(buildRelinkIndex(folder.path()), (RelinkIndex{{"Real", {folder / "Real.mp4"}}}));
}

TEST_F(RelinkSearch, SameNamedFilesAreListedInSortedPathOrder) {
    put("b/Intro.mp4");
    put("a/Intro.mov");
    put("x/Intro.mxf");
    put("a/z/Intro.m4v");
    EXPECT_EQ(buildRelinkIndex(folder.path()).at("Intro"),
              (std::vector<fs::path>{folder / "a/Intro.mov", folder / "a/z/Intro.m4v",
                                     folder / "b/Intro.mp4", folder / "x/Intro.mxf"}));
    EXPECT_TRUE(buildRelinkIndex(folder / "nothing here").empty());
}

TEST(RelinkPlanning, MatchesMissingSlotsByTheirExactNameOnly) {
    ProjectData project(1, 4);
    project.banks[0].name = "Opening";
    auto& slots = project.banks[0].slots;
    slots[0].name = "Intro";
    slots[0].isFileMissing = true;
    slots[1].name = "intro";  // a name differing in case is not a match
    slots[1].isFileMissing = true;
    slots[2].name = "03_Intro";  // the numeric prefix is part of the name searched for
    slots[2].isFileMissing = true;
    slots[3].name = "Intro";  // not missing: left alone
    project.banks[1].slots[0].name = "Broken";
    project.banks[1].slots[0].isFileMissing = true;

    const RelinkIndex index = {{"Intro", {"/m/Intro.mov"}},
                               {"03_Intro", {"/m/03_Intro.mov"}},
                               {"Broken", {"/m/Broken.mov"}}};
    const auto missing = collectMissingSlots(project);
    ASSERT_EQ(missing.size(), 4u);
    const RelinkPlan plan = planRelink(missing, index, [](const fs::path& file) {
        return file.stem() == "Broken" ? std::nullopt : std::optional(std::vector<std::uint8_t>{7});
    });
    ASSERT_EQ(plan.matches.size(), 2u);
    EXPECT_EQ(plan.matches[0].slot, 0);
    EXPECT_EQ(plan.matches[0].file, "/m/Intro.mov");
    EXPECT_EQ(plan.matches[0].bookmark, std::vector<std::uint8_t>{7});
    EXPECT_EQ(plan.matches[1].slot, 2);
    EXPECT_EQ(plan.matches[1].file, "/m/03_Intro.mov");
    EXPECT_EQ(plan.notFound, (std::vector<std::string>{"Opening / intro", "BANK 2 / Broken"}));
}

// Several files of one name: the slot's own extension wins (in any case), else the first; a
// slot given a file of another extension, or whose own is unknown, is probed again.
TEST(RelinkPlanning, OfSeveralFilesOfOneNameTheSlotsOwnExtensionWins) {
    const RelinkIndex index = {
        {"still", {"/m/still.heic", "/m/still.png", "/m/still.tiff", "/m/still.webp"}},
        {"clip", {"/m/clip.MOV", "/m/clip.mp4"}}};
    struct Row {
        const char* name;
        std::optional<fs::path> videoURL;
        std::optional<fs::path> recorded;  // the path the slot's bookmark recorded
        fs::path file;
        bool otherFormat;
    };
    const Row rows[] = {
        {"still", std::nullopt, "/old/still.png", "/m/still.png", false},
        {"still", std::nullopt, "/old/still.heic", "/m/still.heic", false},
        {"still", std::nullopt, "/old/still.WEBP", "/m/still.webp", false},
        {"still", "/old/still.tiff", "/older/still.png", "/m/still.tiff", false},
        {"still", std::nullopt, "/old/still.jpg", "/m/still.heic", true},
        {"still", std::nullopt, std::nullopt, "/m/still.heic", true},
        {"clip", std::nullopt, "/old/clip.mov", "/m/clip.MOV", false},
        {"clip", std::nullopt, "/old/clip.mxf", "/m/clip.MOV", true},
    };
    ProjectData project(1, 10);
    const platform::BookmarkService bookmarks([](const fs::path&, bool) { return true; });
    test::TemporaryFolder folder;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SlotData& slot = project.banks[0].slots[i];
        slot.name = rows[i].name;
        slot.isFileMissing = true;
        slot.videoURL = rows[i].videoURL;
        if (rows[i].recorded) {
            // A bookmark of a file since gone: made of a file in its place, then removed.
            const fs::path gone =
                folder / ("gone" + std::to_string(i)) / rows[i].recorded->filename();
            fs::create_directories(gone.parent_path());
            folder.write(fs::relative(gone, folder.path()).string(), "x");
            slot.bookmarkData = bookmarks.bookmarkData(gone);
            fs::remove(gone);
        }
    }
    const RelinkPlan plan = planRelink(collectMissingSlots(project), index, [](const fs::path&) {
        return std::optional(std::vector<std::uint8_t>{1});
    });
    ASSERT_EQ(plan.matches.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(plan.matches[i].slot, int(i));
        EXPECT_EQ(plan.matches[i].file, rows[i].file);
        EXPECT_EQ(plan.matches[i].otherFormat, rows[i].otherFormat);
    }
}

}  // namespace
}  // namespace kestio
