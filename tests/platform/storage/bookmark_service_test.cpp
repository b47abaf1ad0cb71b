#include "platform/storage/bookmark_service.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <set>

#include "support/temporary_folder.h"

namespace kestio::platform {
namespace {

namespace fs = std::filesystem;
using kestio::test::TemporaryFolder;
using Kind = BookmarkError::Kind;

void writeText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

Kind failureOf(const BookmarkService& service, const Bytes& data, BookmarkOption option) {
    try {
        service.resolveBookmarkData(data, option);
    } catch (const BookmarkError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "resolved unexpectedly";
    return Kind::unreachable;
}

class BookmarkTest : public ::testing::Test {
  protected:
    BookmarkTest() { writeText(clip, "clip content"); }

    ResolvedBookmark resolve(const Bytes& data,
                             BookmarkOption option = BookmarkOption::withSecurityScope) {
        return service.resolveBookmarkData(data, option);
    }

    TemporaryFolder folder;
    fs::path clip = folder / "clip.mov";
    BookmarkService service;
};

TEST_F(BookmarkTest, AnUnchangedFileResolvesToItsPathInBothModes) {
    const Bytes data = service.bookmarkData(clip);
    for (auto option : {BookmarkOption::withSecurityScope, BookmarkOption::none}) {
        const auto r = resolve(data, option);
        EXPECT_EQ(r.path, clip);
        EXPECT_FALSE(r.isStale);
    }
    writeText(clip, "edited in place, same file");
    EXPECT_FALSE(resolve(data).isStale);
}

TEST_F(BookmarkTest, ThePathIsMadeAbsoluteAndNormal) {
    fs::create_directory(folder / "sub");
    const fs::path previous = fs::current_path();
    fs::current_path(folder / "sub");
    const Bytes data = service.bookmarkData("../sub/./../clip.mov");
    fs::current_path(previous);
    EXPECT_EQ(resolve(data).path, clip);
    EXPECT_EQ(resolve(service.bookmarkData(folder.path().string() + "/sub/")).path, folder / "sub");
}

TEST_F(BookmarkTest, ARenameWithinTheFolderIsFollowedAndMarkedStale) {
    const Bytes data = service.bookmarkData(clip);
    writeText(folder / "other.mov", "other");
    fs::rename(clip, folder / "renamed.mov");
    const auto r = resolve(data);
    EXPECT_EQ(r.path, folder / "renamed.mov");
    EXPECT_TRUE(r.isStale);
    // A fresh bookmark of the new place is not stale.
    EXPECT_FALSE(resolve(service.bookmarkData(r.path)).isStale);
}

TEST_F(BookmarkTest, AReplaceByRenameKeepsThePathAndIsStale) {
    const Bytes data = service.bookmarkData(clip);
    writeText(folder / "clip.mov.tmp", "new content written by an editor");
    fs::rename(folder / "clip.mov.tmp", clip);
    const auto r = resolve(data);
    EXPECT_EQ(r.path, clip);
    EXPECT_TRUE(r.isStale);
}

TEST_F(BookmarkTest, DeletedMovedOrRenamedAndChangedFilesAreNotFound) {
    const Bytes data = service.bookmarkData(clip);
    fs::create_directory(folder / "elsewhere");
    fs::rename(clip, folder / "elsewhere" / "clip.mov");
    EXPECT_EQ(failureOf(service, data, BookmarkOption::none), Kind::notFound);

    fs::rename(folder / "elsewhere" / "clip.mov", clip);
    EXPECT_FALSE(resolve(data).isStale);

    // A renamed file that was also rewritten may be another file: not taken.
    fs::rename(clip, folder / "renamed.mov");
    writeText(folder / "renamed.mov", "different length now");
    EXPECT_EQ(failureOf(service, data, BookmarkOption::none), Kind::notFound);

    fs::remove(folder / "renamed.mov");
    EXPECT_EQ(failureOf(service, data, BookmarkOption::withSecurityScope), Kind::notFound);
    fs::remove_all(folder.path());
    EXPECT_EQ(failureOf(service, data, BookmarkOption::none), Kind::notFound);
}

TEST_F(BookmarkTest, AFileReplacedByAFolderIsNotTakenForIt) {
    const Bytes data = service.bookmarkData(clip);
    fs::remove(clip);
    fs::create_directory(clip);
    EXPECT_EQ(failureOf(service, data, BookmarkOption::none), Kind::notFound);
}

TEST_F(BookmarkTest, FoldersResolveAndFollowARenameWithinTheirParent) {
    fs::create_directory(folder / "thumbnails");
    const Bytes data = service.bookmarkData(folder / "thumbnails");
    writeText(folder / "thumbnails" / "thumb_0_0.png", "x");  // content changes do not matter
    EXPECT_FALSE(resolve(data).isStale);
    fs::rename(folder / "thumbnails", folder / "thumbs");
    const auto r = resolve(data);
    EXPECT_EQ(r.path, folder / "thumbs");
    EXPECT_TRUE(r.isStale);
}

TEST_F(BookmarkTest, OfSeveralHardLinksTheFirstByNameIsTaken) {
    const Bytes data = service.bookmarkData(clip);
    fs::create_hard_link(clip, folder / "z.mov");
    fs::create_hard_link(clip, folder / "b.mov");
    fs::remove(clip);
    EXPECT_EQ(resolve(data).path, folder / "b.mov");
}

TEST_F(BookmarkTest, FileNamesThatAreNotUtf8Work) {
    const fs::path odd = folder / std::string("caf\xe9\xff.mov");
    writeText(odd, "latin-1 name");
    const Bytes data = service.bookmarkData(odd);
    EXPECT_EQ(resolve(data).path, odd);
    const fs::path renamed = folder / std::string("\xfe\xfd.mov");
    fs::rename(odd, renamed);
    EXPECT_EQ(resolve(data).path, renamed);
}

TEST_F(BookmarkTest, TheScopedModeAlsoRequiresReadAccess) {
    fs::path denied;
    BookmarkService checked([&](const fs::path& p, bool) { return p != denied; });
    const Bytes data = checked.bookmarkData(clip);
    denied = clip;
    EXPECT_EQ(failureOf(checked, data, BookmarkOption::withSecurityScope), Kind::noPermission);
    EXPECT_EQ(checked.resolveBookmarkData(data, BookmarkOption::none).path, clip);
    EXPECT_FALSE(checked.startAccessingSecurityScopedResource(clip));
    denied.clear();
    // Start and stop are cheap and need no balance.
    for (int i = 0; i < 1000; ++i) {
        EXPECT_TRUE(checked.startAccessingSecurityScopedResource(clip));
    }
    checked.stopAccessingSecurityScopedResource(clip);
    checked.stopAccessingSecurityScopedResource(clip);
    EXPECT_FALSE(checked.startAccessingSecurityScopedResource(folder / "missing.mov"));
}

TEST_F(BookmarkTest, AnUnreadableFileStillGetsABookmark) {
    fs::permissions(clip, fs::perms::none);
    const Bytes data = service.bookmarkData(clip);
    EXPECT_EQ(service.resolveBookmarkData(data, BookmarkOption::none).path, clip);
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    EXPECT_EQ(failureOf(service, data, BookmarkOption::withSecurityScope), Kind::noPermission);
}

TEST_F(BookmarkTest, OnlyAPathThatCannotBeExaminedFailsCreation) {
    try {
        service.bookmarkData(folder / "missing.mov");
        FAIL();
    } catch (const BookmarkError& e) {
        EXPECT_EQ(e.kind(), Kind::unreachable);
    }
}

TEST_F(BookmarkTest, BytesOfAnotherFormatAreNotOurs) {
    const std::string foreign = "book\x00\x02\x00\x00mark";  // another system's bookmark
    for (const Bytes& data :
         {Bytes{}, Bytes{'K', 'T'}, Bytes(foreign.begin(), foreign.end()), Bytes(64, 0xff)}) {
        EXPECT_EQ(failureOf(service, data, BookmarkOption::none), Kind::notOurs);
    }
}

TEST_F(BookmarkTest, EveryDamagedBlobFailsWithoutCrashing) {
    const Bytes good = service.bookmarkData(clip);
    for (std::size_t n = 4; n < good.size(); ++n) {
        EXPECT_EQ(failureOf(service, Bytes(good.begin(), good.begin() + n), BookmarkOption::none),
                  Kind::malformed)
            << n;
    }
    std::mt19937 random(1234);
    int resolved = 0;
    for (int round = 0; round < 10000; ++round) {
        Bytes data = good;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = 4 + random() % (data.size() - 4);
            switch (random() % 3) {
                case 0:
                    data[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
                    break;
                case 1:
                    data.insert(data.begin() + static_cast<std::ptrdiff_t>(at),
                                static_cast<std::uint8_t>(random()));
                    break;
                default:
                    data.erase(data.begin() + static_cast<std::ptrdiff_t>(at));
                    break;
            }
        }
        if (data == good) {
            continue;
        }
        try {
            service.resolveBookmarkData(data, BookmarkOption::none);
            ++resolved;
        } catch (const BookmarkError& e) {
            EXPECT_EQ(e.kind(), Kind::malformed);
        }
    }
    EXPECT_EQ(resolved, 0);
}

TEST_F(BookmarkTest, BookmarksAreDeterministicAndDifferByFile) {
    writeText(folder / "b.mov", "b");
    EXPECT_EQ(service.bookmarkData(clip), service.bookmarkData(clip));
    EXPECT_NE(service.bookmarkData(clip), service.bookmarkData(folder / "b.mov"));
}

}  // namespace
}  // namespace kestio::platform
