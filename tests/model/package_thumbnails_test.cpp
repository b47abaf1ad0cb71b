// The pictures of a package: a save writes only the pictures that changed, what saves of ours
// left goes at the next save (an open changes nothing, nothing is touched through a link), and
// packages whose pictures are named by position alone
// (as saves named them before) still open and move to names by content when saved.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>

#include "model/package_thumbnails.h"
#include "model/project_manager.h"
#include "model/thumbnail_naming.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;
using platform::Bytes;

Bytes picture(int seed, std::size_t size = 2000) {
    std::minstd_rand random(static_cast<unsigned>(seed) + 1);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random() >> 7);
    }
    return bytes;
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

ino_t inodeOf(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
}

class PackageThumbnailsTest : public ::testing::Test {
  protected:
    PackageThumbnailsTest() {
        for (int s = 0; s < 30; ++s) {
            project.banks[s % 3].slots[s].thumbnail = picture(s);
        }
    }
    // Counts the pictures written by `manager`.
    PackageFiles counting() {
        PackageFiles files = PackageFiles::standard();
        files.writeThumbnail = [this, real = files.writeThumbnail](
                                   const fs::path& file, std::span<const std::uint8_t> bytes) {
            ++writes;
            real(file, bytes);
        };
        return files;
    }
    fs::path thumbnails() const { return package / "thumbnails"; }

    kestio::test::TemporaryFolder folder;
    fs::path package = folder / "Show.ktshow";
    platform::BookmarkService bookmarks;
    int writes = 0;
    ProjectManager manager{bookmarks, counting()};
    ProjectData project{4, 10};
};

TEST_F(PackageThumbnailsTest, ASaveWritesOnlyThePicturesThatChangedOrWereCutShort) {
    manager.save(project, package);
    EXPECT_EQ(writes, 30);
    const fs::path kept = thumbnails() / thumbnailFileName(0, 3, picture(3));
    const ino_t untouched = inodeOf(kept);
    project.banks[2].slots[5].thumbnail = picture(99);
    fs::resize_file(thumbnails() / thumbnailFileName(1, 4, picture(4)), 100);
    writes = 0;
    manager.save(project, package);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(inodeOf(kept), untouched);
    EXPECT_EQ(filesIn(thumbnails()).size(), 30u);
    const ProjectData loaded = manager.load(package);
    EXPECT_EQ(loaded.banks[2].slots[5].thumbnail, picture(99));
    EXPECT_EQ(loaded.banks[1].slots[4].thumbnail, picture(4));
    writes = 0;
    manager.save(project, package);
    EXPECT_EQ(writes, 0);
}

TEST_F(PackageThumbnailsTest, PicturesOfEqualSizeGetNamesOfTheirOwn) {
    std::set<std::string> names;
    for (int seed = 0; seed < 2000; ++seed) {
        names.insert(thumbnailFileName(3, 7, picture(seed, 40 + seed % 3)));
    }
    Bytes flipped = picture(1);
    names.insert(thumbnailFileName(3, 7, flipped));
    flipped[1234] ^= 1;
    names.insert(thumbnailFileName(3, 7, flipped));
    EXPECT_EQ(names.size(), 2002u);
    EXPECT_TRUE(names.begin()->starts_with("thumb_3_7_")) << *names.begin();
}

// What saves of ours cut short leave, and what is not ours (some only named like ours): an
// open removes nothing, a save removes the former only.
struct Leftovers {
    std::vector<std::pair<std::string, Bytes>> ours = {
        {thumbnailFileName(7, 7, picture(77)), picture(77)},
        {"thumb_1_1.png.partial", picture(1)},
        {".thumb_2_2_fedcba9876543210.png.tmp-0123456789abcdef", picture(2)}};
    std::string document = ".data.json.tmp-00112233445566ff";
    std::vector<std::string> theirs = {"notes.txt", "thumb_folder.png", "thumb_5_5.png",
                                       "thumb_0_0_0123456789abcdef.png"};

    void place(const fs::path& package) const {
        for (const auto& [name, bytes] : ours) {
            writeText(package / "thumbnails" / name, std::string(bytes.begin(), bytes.end()));
        }
        writeText(package / document, "left");
        writeText(package / "thumbnails" / "notes.txt", "mine");
        writeText(package / "thumbnails" / "thumb_5_5.png", "mine");
        writeText(package / "thumbnails" / "thumb_0_0_0123456789abcdef.png", "mine");
        writeText(package / "notes.txt", "mine");
        writeText(package / "app.log", "log");
        fs::create_directory(package / "thumbnails" / "thumb_folder.png");
    }
};

TEST_F(PackageThumbnailsTest, AnOpenRemovesNothingAndASaveOnlyWhatSavesOfOursLeft) {
    const Leftovers leftovers;
    manager.save(project, package);
    const auto pictures = filesIn(thumbnails());
    leftovers.place(package);
    const auto placed = filesIn(thumbnails());
    const auto placedBeside = filesIn(package);
    manager.load(package);
    EXPECT_EQ(filesIn(thumbnails()), placed) << "open";
    EXPECT_EQ(filesIn(package), placedBeside) << "open";

    manager.save(project, package);
    auto expected = pictures;
    expected.insert(leftovers.theirs.begin(), leftovers.theirs.end());
    EXPECT_EQ(filesIn(thumbnails()), expected) << "save";
    EXPECT_EQ(filesIn(package),
              (std::set<std::string>{"app.log", "data.json", "notes.txt", "thumbnails"}))
        << "save";
}

// Every entry below `root`, links not followed: a file by its content, a link by where it
// leads.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string name = fs::relative(it->path(), root).string();
        if (it->is_symlink()) {
            entries[name] = "link to " + fs::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            std::ifstream in(it->path(), std::ios::binary);
            entries[name] = std::string(std::istreambuf_iterator<char>(in), {});
        } else {
            entries[name] = "folder";
        }
    }
    return entries;
}

// Nothing outside the package is read as its pictures, written, renamed or removed through a
// link, by an open or a save: a package whose "thumbnails" folder is a link to a folder
// elsewhere (holding pictures of ours by name and content, and others'), and a package whose
// own name is a link.
TEST_F(PackageThumbnailsTest, NothingOutsideThePackageIsTouchedThroughALink) {
    const fs::path outside = folder / "Elsewhere";
    struct Case {
        const char* what;
        bool packageIsLink;
    };
    for (const Case c : {Case{"linked thumbnails folder", false}, Case{"linked package", true}}) {
        SCOPED_TRACE(c.what);
        fs::remove_all(package);
        fs::remove_all(outside);
        const Leftovers leftovers;
        if (c.packageIsLink) {
            manager.save(project, outside / "Real.ktshow");
            leftovers.place(outside / "Real.ktshow");
            fs::create_directory_symlink(outside / "Real.ktshow", package);
        } else {
            manager.save(project, package);
            fs::rename(thumbnails(), outside);
            fs::create_directory_symlink(outside, thumbnails());
            leftovers.place(package);  // the pictures' into the folder elsewhere
        }
        const auto before = snapshot(outside);

        ProjectData opened = manager.load(package);
        EXPECT_EQ(snapshot(outside), before) << "open";
        if (c.packageIsLink) {
            EXPECT_EQ(opened.banks[0].slots[0].thumbnail, picture(0));  // the package's own
            opened.banks[1].slots[1].thumbnail = picture(101);
            try {
                manager.save(opened, package);
                ADD_FAILURE() << "saved through the link";
            } catch (const fs::filesystem_error& error) {
                EXPECT_EQ(error.code(), std::errc::too_many_symbolic_link_levels);
            }
        } else {
            EXPECT_FALSE(opened.banks[0].slots[0].thumbnail) << "read through the link";
            opened.banks[1].slots[1].thumbnail = picture(101);
            manager.save(opened, package);
            EXPECT_FALSE(fs::is_symlink(thumbnails()));
            EXPECT_EQ(manager.load(package).banks[1].slots[1].thumbnail, picture(101));
        }
        EXPECT_EQ(snapshot(outside), before) << "save";
    }
}

TEST_F(PackageThumbnailsTest, APackageWithPicturesNamedByPositionOpensAndMovesOnAtTheNextSave) {
    // A package as saves wrote it before: pictures named by position, one whose slot has no
    // picture any more still named by it.
    project = ProjectData(4, 10);
    project.banks[0].slots[0].thumbnailFileName = "thumb_0_0.png";
    project.banks[2].slots[9].thumbnailFileName = "thumb_2_9.png";
    project.banks[3].slots[1].thumbnailFileName = "thumb_3_1.png";
    manager.save(project, package);
    writeText(thumbnails() / "thumb_0_0.png", "picture 0/0");
    writeText(thumbnails() / "thumb_2_9.png", "picture 2/9");
    writeText(thumbnails() / "thumb_3_1.png", "picture 3/1");
    writeText(thumbnails() / "thumb_3_2.png", "no slot's");

    ProjectData opened = manager.load(package);
    EXPECT_EQ(filesIn(thumbnails()), (std::set<std::string>{"thumb_0_0.png", "thumb_2_9.png",
                                                            "thumb_3_1.png", "thumb_3_2.png"}));
    ASSERT_TRUE(opened.banks[2].slots[9].thumbnail);
    EXPECT_EQ(std::string(opened.banks[2].slots[9].thumbnail->begin(),
                          opened.banks[2].slots[9].thumbnail->end()),
              "picture 2/9");

    opened.banks[3].slots[1].thumbnail.reset();  // kept by its old name
    manager.save(opened, package);
    const Bytes picture00(std::string_view("picture 0/0").begin(),
                          std::string_view("picture 0/0").end());
    const Bytes picture29(std::string_view("picture 2/9").begin(),
                          std::string_view("picture 2/9").end());
    EXPECT_EQ(filesIn(thumbnails()), (std::set<std::string>{thumbnailFileName(0, 0, picture00),
                                                            thumbnailFileName(2, 9, picture29),
                                                            "thumb_3_1.png", "thumb_3_2.png"}));
    const ProjectData reopened = manager.load(package);
    EXPECT_EQ(reopened.banks[0].slots[0].thumbnail, picture00);
    EXPECT_EQ(reopened.banks[2].slots[9].thumbnail, picture29);
    EXPECT_TRUE(reopened.banks[3].slots[1].thumbnail);
}

}  // namespace
}  // namespace kestio
