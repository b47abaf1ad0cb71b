#include <gtest/gtest.h>

#include "import/clip_importer.h"

namespace kestio {
namespace {

using Assignment = ClipImporter::SlotAssignment;
using Paths = std::vector<std::filesystem::path>;

// A project of `banks` banks of 2 x 2 slots, every slot taken except the listed global
// indices.
ProjectData project(int banks, std::initializer_list<int> emptyGlobals) {
    ProjectData p(2, 2);
    p.banks.resize(static_cast<std::size_t>(banks));
    for (auto& bank : p.banks) {
        for (auto& slot : bank.slots) {
            slot.videoURL = "/media/taken.mov";
        }
    }
    for (int g : emptyGlobals) {
        p.banks[static_cast<std::size_t>(g / 4)]
            .slots[static_cast<std::size_t>(g % 4)]
            .videoURL.reset();
    }
    return p;
}

TEST(FilterSupported, FilesFillTheEmptySlotsFromTheTargetOnwardAcrossBanks) {
    const auto result = ClipImporter::filterSupported({"/a.mov", "/b.png", "/c.wav"},
                                                      project(3, {1, 2, 6, 9}), 0, 2);
    EXPECT_EQ(result.assignments,
              (std::vector<Assignment>{{"/a.mov", 0, 2}, {"/b.png", 1, 2}, {"/c.wav", 2, 1}}));
    EXPECT_TRUE(result.rejected.empty());
}

TEST(FilterSupported, OnlyOneEmptySlotLeftTakesTheFirstFileAndRejectsTheRest) {
    // Bank 0 of a 2 x 4 grid; drop on its slot 5, only slot 7 empty.
    ProjectData p(2, 4);
    p.banks.resize(2);
    for (auto& bank : p.banks) {
        for (auto& slot : bank.slots) {
            slot.videoURL = "/x.mov";
        }
    }
    p.banks[0].slots[7].videoURL.reset();
    const auto result = ClipImporter::filterSupported({"/1.mp4", "/2.mp4", "/3.mp4"}, p, 0, 5);
    EXPECT_EQ(result.assignments, (std::vector<Assignment>{{"/1.mp4", 0, 7}}));
    EXPECT_EQ(result.rejected, (Paths{"/2.mp4", "/3.mp4"}));
}

TEST(FilterSupported, UnsupportedFilesAreRejectedWithoutTakingASlot) {
    const auto result = ClipImporter::filterSupported({"/a.MOV", "/notes.txt", "/b.flac"},
                                                      project(1, {0, 1, 2, 3}), 0, 0);
    EXPECT_EQ(result.assignments, (std::vector<Assignment>{{"/a.MOV", 0, 0}, {"/b.flac", 0, 1}}));
    EXPECT_EQ(result.rejected, (Paths{"/notes.txt"}));
}

TEST(FilterSupported, OnceTheEndIsReachedEverySupportedFileIsRejected) {
    const auto result =
        ClipImporter::filterSupported({"/a.mov", "/b.txt", "/c.mov"}, project(2, {}), 1, 3);
    EXPECT_TRUE(result.assignments.empty());
    EXPECT_EQ(result.rejected, (Paths{"/a.mov", "/b.txt", "/c.mov"}));
}

TEST(FilterSupported, SlotsBeforeTheTargetAreNeverUsedAndNothingChanges) {
    const ProjectData p = project(2, {0, 5});
    const ProjectData before = p;
    const auto result = ClipImporter::filterSupported({"/a.mov", "/b.mov"}, p, 0, 1);
    EXPECT_EQ(result.assignments, (std::vector<Assignment>{{"/a.mov", 1, 1}}));
    EXPECT_EQ(result.rejected, (Paths{"/b.mov"}));
    EXPECT_EQ(p, before);
}

TEST(FilterSupported, AShortBankCountsItsMissingSlotsAsTaken) {
    ProjectData p = project(2, {1, 4, 5, 6, 7});
    p.banks[0].slots.resize(1);  // slots 1..3 of bank 0 are missing
    const auto result = ClipImporter::filterSupported({"/a.mov", "/b.mov"}, p, 0, 0);
    EXPECT_EQ(result.assignments, (std::vector<Assignment>{{"/a.mov", 1, 0}, {"/b.mov", 1, 1}}));
}

TEST(FilterSupported, AnEmptyGridOrATargetOutsideTheProjectRejectsEverything) {
    ProjectData none(0, 10);
    none.banks.resize(3);
    EXPECT_EQ(ClipImporter::filterSupported({"/a.mov"}, none, 0, 0).rejected, (Paths{"/a.mov"}));
    EXPECT_EQ(ClipImporter::filterSupported({"/a.mov"}, project(1, {0}), 5, 0).rejected,
              (Paths{"/a.mov"}));
    // A negative target starts at the first slot.
    EXPECT_EQ(ClipImporter::filterSupported({"/a.mov"}, project(1, {0}), -1, 0).assignments,
              (std::vector<Assignment>{{"/a.mov", 0, 0}}));
}

}  // namespace
}  // namespace kestio
