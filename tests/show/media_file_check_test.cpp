#include "show/media_file_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;
using platform::BookmarkService;

class MediaFileCheck : public testing::Test {
  protected:
    test::TemporaryFolder folder;
    BookmarkService bookmarks;

    // A probed video slot whose file is `name`.mov, recorded with the file's current date.
    SlotFileReference videoSlot(const std::string& name) {
        const fs::path file = folder.write(name + ".mov", "not really a movie");
        SlotFileReference reference;
        reference.name = name;
        reference.bookmarkData = bookmarks.bookmarkData(file);
        reference.videoURL = file;
        reference.hasClipInfo = true;
        reference.sourceModifiedAt = contentModificationDate(file);
        return reference;
    }

    static void shiftDate(const fs::path& file, double seconds) {
        const auto time = fs::last_write_time(file);
        fs::last_write_time(file, time + std::chrono::duration_cast<fs::file_time_type::duration>(
                                             std::chrono::duration<double>(seconds)));
    }
};

TEST_F(MediaFileCheck, ReachableFileUnderItsNameIsNotMissingAndNeedsNoRescan) {
    const auto finding = examineSlotFile(videoSlot("Intro"), bookmarks);
    EXPECT_EQ(finding.missing, MissingKind::none);
    EXPECT_EQ(finding.url, folder / "Intro.mov");
    EXPECT_FALSE(finding.rescan);
    EXPECT_FALSE(finding.recordDate);
}

TEST_F(MediaFileCheck, DeletedRenamedAndUnreadableFilesAreMissingForTheirOwnReason) {
    auto deleted = videoSlot("Gone");
    fs::remove(folder / "Gone.mov");
    EXPECT_EQ(examineSlotFile(deleted, bookmarks).missing, MissingKind::notFound);

    auto renamed = videoSlot("Intro");
    fs::rename(folder / "Intro.mov", folder / "Intro final.mov");
    const auto renamedFinding = examineSlotFile(renamed, bookmarks);
    EXPECT_EQ(renamedFinding.missing, MissingKind::renamed);
    EXPECT_EQ(renamedFinding.url, folder / "Intro final.mov");

    // Readable only without the security scope: found, but it has to be relinked.
    auto locked = videoSlot("Locked");
    const BookmarkService refusing([](const fs::path&, bool) { return false; });
    const auto lockedFinding = examineSlotFile(locked, refusing);
    EXPECT_EQ(lockedFinding.missing, MissingKind::noAccess);
    EXPECT_FALSE(lockedFinding.fileDate.has_value());  // no change check without access

    // A bookmark that resolves nowhere falls back to the stored location.
    SlotFileReference foreign = videoSlot("Foreign");
    foreign.bookmarkData = std::vector<std::uint8_t>{'x', 'y'};
    EXPECT_EQ(examineSlotFile(foreign, bookmarks).missing, MissingKind::noAccess);
    foreign.videoURL.reset();
    const auto nowhere = examineSlotFile(foreign, bookmarks);
    EXPECT_EQ(nowhere.missing, MissingKind::notFound);
    EXPECT_FALSE(nowhere.url.has_value());

    // Without a bookmark only existence counts: the name is not compared.
    SlotFileReference plain = videoSlot("Plain");
    plain.bookmarkData.reset();
    plain.name = "Something else";
    EXPECT_EQ(examineSlotFile(plain, bookmarks).missing, MissingKind::none);
}

TEST_F(MediaFileCheck, AVideoChangedByMoreThanASecondEitherWayIsRescanned) {
    const std::vector<std::pair<double, bool>> shifts = {
        {0.5, false}, {-0.5, false}, {1.5, true}, {-1.5, true}, {0.0, false}};
    for (const auto& [shift, rescan] : shifts) {
        auto slot = videoSlot("Clip");
        shiftDate(folder / "Clip.mov", shift);
        EXPECT_EQ(examineSlotFile(slot, bookmarks).rescan, rescan) << shift;
    }
    // A renamed file is still checked for changes (its date is read).
    auto renamed = videoSlot("Old");
    fs::rename(folder / "Old.mov", folder / "New.mov");
    const auto finding = examineSlotFile(renamed, bookmarks);
    EXPECT_EQ(finding.missing, MissingKind::renamed);
    EXPECT_TRUE(finding.fileDate.has_value());
    EXPECT_FALSE(finding.rescan);
}

TEST_F(MediaFileCheck, StillsAudioAndUnprobedSlotsAreNeverRescanned) {
    for (MediaType type : {MediaType::still, MediaType::audio}) {
        auto slot = videoSlot("Media");
        slot.mediaType = type;
        shiftDate(folder / "Media.mov", 10.0);
        const auto finding = examineSlotFile(slot, bookmarks);
        EXPECT_FALSE(finding.rescan);
        EXPECT_FALSE(finding.recordDate);
    }
    auto unprobed = videoSlot("Raw");
    unprobed.hasClipInfo = false;
    shiftDate(folder / "Raw.mov", 10.0);
    EXPECT_FALSE(examineSlotFile(unprobed, bookmarks).rescan);
}

TEST_F(MediaFileCheck, ASlotWithoutARecordedDateGetsTheFilesDateAndNoRescan) {
    auto slot = videoSlot("Clip");
    slot.sourceModifiedAt.reset();
    shiftDate(folder / "Clip.mov", -100.0);
    const auto finding = examineSlotFile(slot, bookmarks);
    EXPECT_TRUE(finding.recordDate);
    EXPECT_FALSE(finding.rescan);
    ASSERT_TRUE(finding.fileDate.has_value());
    EXPECT_NEAR(*finding.fileDate, *contentModificationDate(folder / "Clip.mov"), 1e-6);
}

TEST(CollectSlotFiles, TakesEverySlotWithALocationOrABookmarkInOrder) {
    ProjectData project(2, 2);
    project.banks[0].slots[3].videoURL = "/a.mov";
    project.banks[2].slots[0].bookmarkData = std::vector<std::uint8_t>{1};
    project.banks[2].slots[0].clipInfo = ClipInfo{};
    project.banks[2].slots[0].clipInfo->sourceModifiedAt = 42.0;
    const auto references = collectSlotFiles(project);
    ASSERT_EQ(references.size(), 2u);
    EXPECT_EQ(std::make_pair(references[0].bank, references[0].slot), std::make_pair(0, 3));
    EXPECT_FALSE(references[0].hasClipInfo);
    EXPECT_EQ(std::make_pair(references[1].bank, references[1].slot), std::make_pair(2, 0));
    EXPECT_EQ(references[1].sourceModifiedAt, 42.0);
}

}  // namespace
}  // namespace kestio
