#include "model/project_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "model/base64.h"
#include "model/project_coding.h"
#include "model/thumbnail_naming.h"
#include "platform/runloop/console.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;
using kestio::test::TemporaryFolder;
using platform::BookmarkOption;
using platform::Bytes;
using platform::Console;

std::string contentOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class ProjectManagerTest : public ::testing::Test {
  protected:
    ProjectManagerTest() { fs::create_directories(media); }

    nlohmann::json document() const {
        return nlohmann::json::parse(contentOf(package / "data.json"));
    }
    SlotData& slot(ProjectData& p, int bank, int index) { return p.banks[bank].slots[index]; }

    TemporaryFolder folder;
    fs::path package = folder / "Show.ktshow";
    fs::path media = folder / "media";
    platform::BookmarkService bookmarks;
    ProjectManager manager{bookmarks};
    ProjectData project{4, 10};
};

TEST_F(ProjectManagerTest, SavingWithoutThumbnailsMakesAnEmptyThumbnailsFolder) {
    EXPECT_EQ(manager.save(project, package), package);
    EXPECT_TRUE(fs::is_directory(package / "thumbnails"));
    EXPECT_TRUE(fs::is_empty(package / "thumbnails"));
    const std::string text = contentOf(package / "data.json");
    EXPECT_EQ(text.find("\"thumbnail\""), std::string::npos);
    EXPECT_EQ(text.find("waveformData"), std::string::npos);
    EXPECT_EQ(text.find("thumbnailFileName"), std::string::npos);
    // The thumbnails folder is referenced by a bookmark of ours.
    const auto bookmark = base64Decode(document()["thumbnailsFolderBookmark"].get<std::string>());
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmarks.resolveBookmarkData(*bookmark, BookmarkOption::withSecurityScope).path,
              package / "thumbnails");
}

TEST_F(ProjectManagerTest,
       ThumbnailsAreWrittenByPositionAndContentAndTheCallersProjectIsUnchanged) {
    slot(project, 2, 13).thumbnail = bytesOf("png of 2/13");
    slot(project, 2, 13).thumbnailFileName = "old.png";
    slot(project, 2, 13).waveformData = std::vector<float>{0.5f};
    const ProjectData before = project;
    manager.save(project, package);

    const std::string name = thumbnailFileName(2, 13, bytesOf("png of 2/13"));
    EXPECT_TRUE(name.starts_with("thumb_2_13_")) << name;
    EXPECT_EQ(contentOf(package / "thumbnails" / name), "png of 2/13");
    EXPECT_EQ(document()["banks"][2]["slots"][13]["thumbnailFileName"], name);
    EXPECT_EQ(project, before);
    EXPECT_EQ(slot(project, 2, 13).thumbnailFileName, "old.png");
    EXPECT_EQ(slot(project, 2, 13).thumbnail, bytesOf("png of 2/13"));
}

TEST_F(ProjectManagerTest, ASlotWhoseThumbnailWasRemovedKeepsItsOldFile) {
    slot(project, 0, 0).thumbnail = bytesOf("first");
    manager.save(project, package);
    const std::string name = document()["banks"][0]["slots"][0]["thumbnailFileName"];
    slot(project, 0, 0).thumbnail.reset();
    slot(project, 0, 0).thumbnailFileName = name;
    manager.save(project, package);
    EXPECT_EQ(document()["banks"][0]["slots"][0]["thumbnailFileName"], name);
    EXPECT_EQ(manager.load(package).banks[0].slots[0].thumbnail, bytesOf("first"));
}

TEST_F(ProjectManagerTest, SavingIntoAPackageLeavesTheLogAndFilesNotOfOursAloneButNoStalePictures) {
    slot(project, 2, 2).thumbnail = bytesOf("old");
    manager.save(project, package);
    const fs::path superseded = package / "thumbnails" / thumbnailFileName(2, 2, bytesOf("old"));
    ASSERT_TRUE(fs::exists(superseded));
    slot(project, 2, 2).thumbnail = bytesOf("changed");
    writeText(package / "app.log", "12:00:00.000 アプリ起動: Show.ktshow\n");
    writeText(package / "thumbnails" / "thumb_9_9.png", "no slot names this");
    writeText(package / "notes.txt", "mine");
    slot(project, 1, 1).thumbnail = bytesOf("new");
    writeText(package / "thumbnails" / "thumb_1_1.png", "older content, longer than new");
    project.midiInputEnabled = true;
    manager.save(project, package);

    EXPECT_EQ(contentOf(package / "app.log"), "12:00:00.000 アプリ起動: Show.ktshow\n");
    // Named like pictures of ours, but no document of ours named them: not ours to remove.
    EXPECT_EQ(contentOf(package / "thumbnails" / "thumb_9_9.png"), "no slot names this");
    EXPECT_EQ(contentOf(package / "notes.txt"), "mine");
    EXPECT_EQ(contentOf(package / "thumbnails" / "thumb_1_1.png"),
              "older content, longer than new");
    EXPECT_FALSE(fs::exists(superseded));
    EXPECT_EQ(contentOf(package / "thumbnails" / thumbnailFileName(1, 1, bytesOf("new"))), "new");
    EXPECT_EQ(document()["midiInputEnabled"], true);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(package)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"app.log", "data.json", "notes.txt", "thumbnails"}));
}

TEST_F(ProjectManagerTest, AReloadedPackageEqualsTheSavedProject) {
    writeText(media / "intro.mov", "intro");
    writeText(media / "logo.png", "logo");
    slot(project, 0, 0).bookmarkData = bookmarks.bookmarkData(media / "intro.mov");
    slot(project, 0, 0).thumbnail = bytesOf("thumb a");
    slot(project, 19, 39).bookmarkData = bookmarks.bookmarkData(media / "logo.png");
    slot(project, 19, 39).mediaType = MediaType::still;
    slot(project, 19, 39).thumbnail = bytesOf("thumb b");
    slot(project, 3, 4).outPoint = 12.5;
    project.followJumpEnabled = false;
    manager.save(project, package);

    Console::Capture console;
    const ProjectData loaded = manager.load(package);
    ProjectData expected = project;
    slot(expected, 0, 0).thumbnailFileName = thumbnailFileName(0, 0, bytesOf("thumb a"));
    slot(expected, 0, 0).videoURL = media / "intro.mov";
    slot(expected, 19, 39).thumbnailFileName = thumbnailFileName(19, 39, bytesOf("thumb b"));
    slot(expected, 19, 39).videoURL = media / "logo.png";
    expected.thumbnailsFolderBookmark = loaded.thumbnailsFolderBookmark;
    EXPECT_EQ(loaded, expected);
    EXPECT_EQ(loaded.banks[19].slots[39].thumbnail, bytesOf("thumb b"));
    EXPECT_EQ(console.lines(),
              (std::vector<std::string>{"📂 load package: " + package.string(),
                                        "🖼 thumbsURL: " + (package / "thumbnails").string(),
                                        "✅ thumbnails loaded: 2"}));
}

TEST_F(ProjectManagerTest, RenamedMediaIsFoundAndItsBookmarkReportsStale) {
    for (int i = 0; i < 6; ++i) {
        const std::string name = "clip" + std::to_string(i) + ".mp4";
        writeText(media / name, "clip " + std::to_string(i));
        slot(project, 0, i).bookmarkData = bookmarks.bookmarkData(media / name);
        slot(project, 0, i).thumbnail = bytesOf("thumb " + std::to_string(i));
    }
    manager.save(project, package);
    fs::rename(media / "clip1.mp4", media / "renamed one.mp4");
    fs::rename(media / "clip4.mp4", media / "CLIP4.MP4");

    const ProjectData loaded = manager.load(package);
    for (int i = 0; i < 6; ++i) {
        const auto& s = loaded.banks[0].slots[i];
        ASSERT_TRUE(s.videoURL) << i;
        EXPECT_EQ(s.thumbnail, bytesOf("thumb " + std::to_string(i)));
        const auto resolved = bookmarks.resolveBookmarkData(*s.bookmarkData, BookmarkOption::none);
        EXPECT_EQ(resolved.path, *s.videoURL);
        EXPECT_EQ(resolved.isStale, i == 1 || i == 4) << i;
        EXPECT_FALSE(s.isFileMissing);
    }
    EXPECT_EQ(*loaded.banks[0].slots[1].videoURL, media / "renamed one.mp4");
    EXPECT_EQ(*loaded.banks[0].slots[4].videoURL, media / "CLIP4.MP4");
}

TEST_F(ProjectManagerTest, ABookmarkOnlyResolvableWithoutTheScopeStillGivesTheFile) {
    writeText(media / "locked.mov", "x");
    slot(project, 0, 0).bookmarkData = bookmarks.bookmarkData(media / "locked.mov");
    manager.save(project, package);
    platform::BookmarkService denying([](const fs::path&, bool) { return false; });
    EXPECT_EQ(ProjectManager(denying).load(package).banks[0].slots[0].videoURL,
              media / "locked.mov");
}

TEST_F(ProjectManagerTest, ForeignAndDeadBookmarksGiveNoFileAndSurviveASaveUnchanged) {
    const Bytes foreign = bytesOf(std::string("book\0\0\0\0mark\x10\x20 foreign bytes", 26));
    writeText(media / "deleted.mov", "x");
    slot(project, 0, 0).bookmarkData = foreign;
    slot(project, 0, 1).bookmarkData = bookmarks.bookmarkData(media / "deleted.mov");
    fs::remove(media / "deleted.mov");
    manager.save(project, package);

    Console::Capture console;
    ProjectData loaded = manager.load(package);
    EXPECT_FALSE(loaded.banks[0].slots[0].videoURL);
    EXPECT_FALSE(loaded.banks[0].slots[1].videoURL);
    EXPECT_EQ(console.lines().size(), 3u);  // failed resolutions print nothing
    manager.save(loaded, package);
    EXPECT_EQ(manager.load(package).banks[0].slots[0].bookmarkData, foreign);
}

TEST_F(ProjectManagerTest, AMissingThumbnailsFolderWarnsPerNamedFile) {
    slot(project, 0, 0).thumbnail = bytesOf("a");
    slot(project, 1, 2).thumbnail = bytesOf("b");
    manager.save(project, package);
    const std::string a = thumbnailFileName(0, 0, bytesOf("a"));
    const std::string b = thumbnailFileName(1, 2, bytesOf("b"));
    fs::remove_all(package / "thumbnails");
    Console::Capture console;
    const ProjectData loaded = manager.load(package);
    EXPECT_EQ(console.lines(), (std::vector<std::string>{
                                   "📂 load package: " + package.string(),
                                   "🖼 thumbsURL: " + (package / "thumbnails").string(),
                                   "⚠️ thumb load failed: " + a,
                                   "⚠️ thumb load failed: " + b, "✅ thumbnails loaded: 0"}));
    EXPECT_FALSE(loaded.banks[0].slots[0].thumbnail);
    EXPECT_EQ(loaded.banks[0].slots[0].thumbnailFileName, a);
}

TEST_F(ProjectManagerTest, ThumbnailNamesAreOnlyReadAsRegularFilesInsideTheFolder) {
    manager.save(project, package);
    const fs::path thumbs = package / "thumbnails";
    writeText(package / "secret.png", "outside the folder");
    writeText(thumbs / "good.png", "good");
    fs::create_directory(thumbs / "folder.png");
    fs::create_symlink(thumbs / "good.png", thumbs / "link.png");
    ASSERT_EQ(::mkfifo((thumbs / "fifo.png").c_str(), 0600), 0);
    {
        std::ofstream huge(thumbs / "huge.png", std::ios::binary);
        huge.seekp(static_cast<std::streamoff>(ProjectManager::kMaxThumbnailBytes));
        huge.put('x');
    }
    const std::vector<std::string> names = {
        "../secret.png",     "good.png", "folder.png", "link.png", "fifo.png",
        "huge.png",          "",         ".",          "..",       "/etc/hostname",
        "a/../../secret.png"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        slot(project, 0, static_cast<int>(i)).thumbnailFileName = names[i];
    }
    manager.save(project, package);

    Console::Capture console;
    const ProjectData loaded = manager.load(package);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto& thumbnail = loaded.banks[0].slots[i].thumbnail;
        EXPECT_EQ(thumbnail.has_value(), names[i] == "good.png") << names[i];
    }
    EXPECT_TRUE(console.contains("⚠️ thumb load failed: ../secret.png"));
    EXPECT_TRUE(console.contains("⚠️ thumb load failed: fifo.png"));
    EXPECT_EQ(console.lines().back(), "✅ thumbnails loaded: 1");
}

TEST_F(ProjectManagerTest, LoadingWithoutADocumentThrowsAfterTwoLines) {
    fs::create_directories(package);
    Console::Capture console;
    EXPECT_THROW(manager.load(package), fs::filesystem_error);
    EXPECT_EQ(console.lines().size(), 2u);

    fs::create_directory(package / "data.json");
    EXPECT_THROW(manager.load(package), fs::filesystem_error);

    fs::remove(package / "data.json");
    writeText(package / "data.json", "{\"banks\": [ {\"name\": 5} ]}");
    EXPECT_THROW(manager.load(package), ModelCodingError);
}

TEST_F(ProjectManagerTest, AFolderInPlaceOfTheDocumentFailsTheSaveAndIsKept) {
    fs::create_directories(package / "data.json" / "inside");
    slot(project, 0, 0).thumbnail = bytesOf("thumb");
    EXPECT_THROW(manager.save(project, package), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(package / "data.json" / "inside"));
    // The picture written for the document that could not be written is removed again.
    EXPECT_TRUE(fs::is_empty(package / "thumbnails"));
    EXPECT_THROW(manager.load(package), fs::filesystem_error);
}

// Pictures that cannot be written cost the pictures, not the show: the document is written
// all the same, refers to no picture the package lacks, and the caller is told why.
TEST_F(ProjectManagerTest, PicturesThatCannotBeWrittenLeaveTheDocumentSavedWithoutThem) {
    PackageFiles fullDisk = PackageFiles::standard();
    fullDisk.writeThumbnail = [](const fs::path& file, std::span<const std::uint8_t>) {
        throw fs::filesystem_error("write", file,
                                   std::make_error_code(std::errc::no_space_on_device));
    };
    const ProjectManager onFullDisk{bookmarks, fullDisk};
    struct Case {
        const char* what;
        bool fileInPlaceOfTheFolder;
        const ProjectManager& saving;
        std::optional<std::string> firstPictureAfter;  // the picture saved before, if kept
    };
    const Case cases[] = {
        {"a file in place of the thumbnails folder", true, manager, std::nullopt},
        {"a full disk for the new picture", false, onFullDisk, "thumb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(package);
        ProjectData show{4, 10};
        slot(show, 0, 0).thumbnail = bytesOf("thumb");
        manager.save(show, package);
        show = manager.load(package);  // as the program holds it: pictures with their names
        if (c.fileInPlaceOfTheFolder) {
            fs::remove_all(package / "thumbnails");
            writeText(package / "thumbnails", "a file");
        }

        slot(show, 0, 1).name = "changed";
        slot(show, 0, 1).thumbnail = bytesOf("new picture");
        std::error_code pictures;
        EXPECT_NO_THROW(c.saving.save(show, package, &pictures));
        EXPECT_TRUE(pictures);

        Console::Capture console;
        const ProjectData loaded = manager.load(package);
        EXPECT_EQ(loaded.banks[0].slots[1].name, "changed");
        EXPECT_EQ(loaded.banks[0].slots[1].thumbnailFileName, std::nullopt);
        EXPECT_EQ(loaded.banks[0].slots[1].thumbnail, std::nullopt);
        EXPECT_EQ(
            loaded.banks[0].slots[0].thumbnail,
            c.firstPictureAfter ? std::optional(bytesOf(*c.firstPictureAfter)) : std::nullopt);
        EXPECT_FALSE(console.contains("thumb load failed")) << "the document names no lost picture";
        if (c.fileInPlaceOfTheFolder) {
            EXPECT_EQ(contentOf(package / "thumbnails"), "a file");
        }
    }
}

TEST_F(ProjectManagerTest, AFileInPlaceOfThePackageFailsTheSave) {
    writeText(package, "not a folder");
    EXPECT_THROW(manager.save(project, package), fs::filesystem_error);
    EXPECT_EQ(contentOf(package), "not a folder");
}

TEST(MediaTypeByExtensionTest, TheLastExtensionDecidesInAnyLetterCase) {
    EXPECT_EQ(ProjectManager::mediaType("/m/a.MOV"), MediaType::video);
    EXPECT_EQ(ProjectManager::mediaType("/m/a.Mov"), MediaType::video);
    EXPECT_EQ(ProjectManager::mediaType("/m/a.b.mov"), MediaType::video);
    EXPECT_EQ(ProjectManager::mediaType("/m/a.JPEG"), MediaType::still);
    EXPECT_EQ(ProjectManager::mediaType("/m/a.flac"), MediaType::audio);
    EXPECT_EQ(ProjectManager::mediaType("/m/.mov"), MediaType::video);
    EXPECT_EQ(ProjectManager::mediaType("/m/clip.m2ts/"), MediaType::video);
    for (const char* none :
         {"/m/a.ogg", "/m/noextension", "/m/a.mov.txt", "/m/a.", "/m.mov/a", "/m/a.mov "}) {
        EXPECT_FALSE(ProjectManager::mediaType(none)) << none;
    }
    for (auto e : ProjectManager::videoExtensions) {
        EXPECT_EQ(ProjectManager::mediaType("x." + std::string(e)), MediaType::video) << e;
    }
    for (auto e : ProjectManager::imageExtensions) {
        EXPECT_EQ(ProjectManager::mediaType("x." + std::string(e)), MediaType::still) << e;
    }
    for (auto e : ProjectManager::audioExtensions) {
        EXPECT_EQ(ProjectManager::mediaType("x." + std::string(e)), MediaType::audio) << e;
    }
}

}  // namespace
}  // namespace kestio
