#include "show/relink_index.h"

#include <gtest/gtest.h>

#include <filesystem>

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
    EXPECT_EQ(index, (RelinkIndex{{"Intro", folder / "Intro.mov"},
                                  {"Logo", folder / "deep/er/still/Logo.PNG"},
                                  {"Bed", folder / "audio/Bed.flac"}}));
}

TEST_F(RelinkSearch, FollowsNoSymbolicLinks) {
    test::TemporaryFolder outside;
    fs::create_directories(outside / "media");
    outside.write("media/Far.mov", "x");
    fs::create_directory_symlink(outside / "media", folder / "linked");
    fs::create_symlink(outside / "media/Far.mov", folder / "Near.mov");
    fs::create_directory_symlink(folder.path(), folder / "loop");  // would never end if followed
    put("Real.mp4");
    EXPECT_EQ(buildRelinkIndex(folder.path()), (RelinkIndex{{"Real", folder / "Real.mp4"}}));
}

TEST_F(RelinkSearch, OfTwoSameNamedFilesTheFirstInSortedPathOrderWins) {
    put("b/Intro.mp4");
    put("a/Intro.mov");
    put("x/Intro.mxf");
    put("a/z/Intro.m4v");
    EXPECT_EQ(buildRelinkIndex(folder.path()).at("Intro"), folder / "a/Intro.mov");
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

    const RelinkIndex index = {
        {"Intro", "/m/Intro.mov"}, {"03_Intro", "/m/03_Intro.mov"}, {"Broken", "/m/Broken.mov"}};
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

}  // namespace
}  // namespace kestio
