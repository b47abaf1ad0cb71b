// A save that fails or is cut short never costs the previous package: the package holds the
// old document with its pictures or the new one with its pictures (or, when only pictures could
// not be written, the new one with none it lacks), and what the save left over is gone after the
// next open.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <string>

#include "model/project_coding.h"
#include "model/project_manager.h"
#include "platform/storage/file_io.h"
#include "platform/storage/forked_child.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;
using platform::Bytes;

// Two versions of a show that differ in every slot name. Of the pictures of every twentieth
// slot, half stay the same from one version to the other and half change; "b" also drops a picture
// and adds one. Pictures have equal sizes, so that none is told from another by its size.
ProjectData version(char tag) {
    ProjectData p(4, 10);
    for (std::size_t b = 0; b < p.banks.size(); ++b) {
        for (std::size_t s = 0; s < p.banks[b].slots.size(); ++s) {
            auto& slot = p.banks[b].slots[s];
            slot.name = std::string(40, tag) + std::to_string(b * 100 + s);
            if (s % 20 == 0) {
                const char content = s % 40 == 0 ? tag : 'x';
                slot.thumbnail = Bytes(3000, static_cast<std::uint8_t>(content + b));
            }
        }
    }
    if (tag == 'b') {
        p.banks[0].slots[0].thumbnail.reset();
        p.banks[0].slots[1].thumbnail = Bytes(3000, 7);
    }
    return p;
}

// The show as the operator sees it: slot names and pictures, not the names of their files.
ProjectData shown(ProjectData p) {
    p.thumbnailsFolderBookmark.reset();
    for (auto& bank : p.banks) {
        for (auto& slot : bank.slots) {
            slot.thumbnailFileName.reset();
        }
    }
    return p;
}

// `show` without the pictures that `seen` lacks.
ProjectData withoutLostPictures(ProjectData show, const ProjectData& seen) {
    for (std::size_t b = 0; b < show.banks.size() && b < seen.banks.size(); ++b) {
        for (std::size_t s = 0; s < show.banks[b].slots.size(); ++s) {
            if (s < seen.banks[b].slots.size() && !seen.banks[b].slots[s].thumbnail) {
                show.banks[b].slots[s].thumbnail.reset();
            }
        }
    }
    return show;
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

std::set<std::string> picturesNamedBy(const ProjectData& p) {
    std::set<std::string> names;
    for (const auto& bank : p.banks) {
        for (const auto& slot : bank.slots) {
            if (slot.thumbnailFileName) {
                names.insert(*slot.thumbnailFileName);
            }
        }
    }
    return names;
}

// The standard file operations, counted; the one numbered `faultAt` (from 1) meets the fault
// instead of being done: a full disk for a write (a removal just does not happen), or the
// process killed.
struct FaultyFiles {
    enum class Fault { diskFull, kill };
    int faultAt = 0;
    Fault fault = Fault::diskFull;
    int steps = 0;

    // Counts a step; false when the step is to be skipped.
    bool proceed(bool isWrite) {
        if (++steps != faultAt) {
            return true;
        }
        if (fault == Fault::kill) {
            ::raise(SIGKILL);
        }
        if (isWrite) {
            throw fs::filesystem_error("no space left",
                                       std::make_error_code(std::errc::no_space_on_device));
        }
        return false;
    }

    // Nothing flushed to the disk, which changes nothing here but the time the tests take.
    static PackageFiles quick() {
        PackageFiles files = PackageFiles::standard();
        files.writeThumbnail = [](const fs::path& file, std::span<const std::uint8_t> bytes) {
            platform::writeFileAtomically(file, bytes, platform::Durability::unflushed);
        };
        files.flushThumbnails = [](std::span<const fs::path>) {};
        files.writeDocument = [](const fs::path& file,
                                 const std::function<void(std::ostream&)>& write) {
            platform::writeFileAtomically(file, write, platform::Durability::unflushed);
        };
        return files;
    }

    PackageFiles files() {
        const PackageFiles real = quick();
        PackageFiles f;
        f.writeThumbnail = [this, real](const fs::path& file, std::span<const std::uint8_t> bytes) {
            proceed(true);
            real.writeThumbnail(file, bytes);
        };
        f.flushThumbnails = [this, real](std::span<const fs::path> written) {
            proceed(true);
            real.flushThumbnails(written);
        };
        f.writeDocument = [this, real](const fs::path& file,
                                       const std::function<void(std::ostream&)>& write) {
            proceed(true);
            real.writeDocument(file, write);
        };
        f.remove = [this, real](const fs::path& file) {
            if (proceed(false)) {
                real.remove(file);
            }
        };
        return f;
    }
};

class PackageInterruptionTest : public ::testing::Test {
  protected:
    // Opens the package as the application does and checks that it shows `a` or `b` whole
    // and, after the next save (an open removes nothing), holds no file that its document does
    // not need.
    // With `picturesLost`, the new document may lack pictures the save could not write.
    void expectOneWholeVersion(const std::string& when, bool picturesLost = false) {
        ProjectData loaded;
        ASSERT_NO_THROW(loaded = manager.load(package)) << when;
        const ProjectData seen = shown(loaded);
        EXPECT_TRUE(seen == a || seen == b ||
                    (picturesLost && withoutLostPictures(b, seen) == seen))
            << when;
        manager.save(loaded, package);
        std::set<std::string> expected = picturesNamedBy(loaded);
        EXPECT_EQ(filesIn(package / "thumbnails"), expected) << when;
        EXPECT_EQ(filesIn(package), (std::set<std::string>{"data.json", "thumbnails"})) << when;
    }

    kestio::test::TemporaryFolder folder;
    fs::path package = folder / "Show.ktshow";
    platform::BookmarkService bookmarks;
    ProjectManager manager{bookmarks, FaultyFiles::quick()};
    ProjectData a = version('a');
    ProjectData b = version('b');
};

TEST_F(PackageInterruptionTest, AFullDiskOrAKillAtAnyStepLeavesOneWholeVersion) {
    for (const auto fault : {FaultyFiles::Fault::diskFull, FaultyFiles::Fault::kill}) {
        for (int step = 1;; ++step) {
            fs::remove_all(package);
            manager.save(a, package);
            const auto pictures = filesIn(package / "thumbnails");
            // Exits with 2 when the save reports its failure, 3 when it ended before the fault,
            // 4 when it saved the document but not all of its pictures.
            const auto child = kestio::test::runInChild([&] {
                FaultyFiles faulty{step, fault};
                ProjectManager faulting{bookmarks, faulty.files()};
                std::error_code picturesLost;
                try {
                    faulting.save(b, package, &picturesLost);
                } catch (const fs::filesystem_error&) {
                    _exit(2);
                }
                _exit(picturesLost ? 4 : faulty.steps < step ? 3 : 0);
            });
            const std::string when = (fault == FaultyFiles::Fault::kill ? "killed" : "disk full") +
                                     std::string(" at step ") + std::to_string(step);
            if (child.exited && child.code == 2) {  // the old package, with nothing added
                EXPECT_EQ(filesIn(package / "thumbnails"), pictures) << when;
                EXPECT_EQ(shown(manager.load(package)), a) << when;
            }
            expectOneWholeVersion(when, child.exited && child.code == 4);
            if (child.exited && child.code == 3) {
                EXPECT_EQ(shown(manager.load(package)), b);
                break;
            }
            ASSERT_TRUE(child.exited ? child.code == 2 || child.code == 0 || child.code == 4
                                     : child.code == SIGKILL)
                << when;
        }
    }
}

TEST_F(PackageInterruptionTest, ADiskFullDuringTheDocumentLeavesThePreviousPackage) {
    manager.save(a, package);
    const auto pictures = filesIn(package / "thumbnails");
    const auto documentSize = fs::file_size(package / "data.json");
    // The limit lets the thumbnails through but not the new document.
    auto child = kestio::test::runInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = documentSize / 2;
        rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        try {
            manager.save(b, package);
        } catch (const fs::filesystem_error&) {
            _exit(42);
        }
    });
    ASSERT_TRUE(child.exited);
    ASSERT_EQ(child.code, 42);
    EXPECT_EQ(shown(manager.load(package)), a);
    EXPECT_EQ(filesIn(package / "thumbnails"), pictures);
    for (const auto& e : fs::directory_iterator(package)) {
        EXPECT_FALSE(e.path().filename().string().starts_with(".data.json")) << e.path();
    }
}

TEST_F(PackageInterruptionTest, KillingTheProcessDuringSavesNeverLeavesAnUnreadablePackage) {
    manager.save(a, package);
    for (int round = 0; round < 25; ++round) {
        int ticks[2];
        ASSERT_EQ(::pipe(ticks), 0);
        const pid_t pid = kestio::test::startChild([&] {
            ::close(ticks[0]);
            for (int i = 0;; ++i) {
                // Pictures change on every save, so that every save writes some.
                ProjectData next = i % 2 ? a : b;
                next.banks[1].slots[0].thumbnail = Bytes(3000, static_cast<std::uint8_t>(i));
                manager.save(next, package);
                const char tick = 1;
                if (::write(ticks[1], &tick, 1) != 1) {
                    return;
                }
            }
        });
        ::close(ticks[1]);
        // Let a varying number of saves finish, then kill the process in the next one.
        for (int done = 0; done <= round % 3;) {
            char tick;
            const ssize_t n = ::read(ticks[0], &tick, 1);
            ASSERT_EQ(n, 1);
            ++done;
        }
        ::kill(pid, SIGKILL);
        kestio::test::waitForChild(pid);
        ::close(ticks[0]);

        ProjectData loaded;
        ASSERT_NO_THROW(loaded = manager.load(package)) << "round " << round;
        ProjectData seen = shown(loaded);
        seen.banks[1].slots[0].thumbnail = a.banks[1].slots[0].thumbnail;
        ASSERT_TRUE(seen == a || seen == b) << "round " << round;
        manager.save(loaded, package);  // what the killed save left goes
        ASSERT_EQ(filesIn(package / "thumbnails"), picturesNamedBy(loaded)) << "round " << round;
    }
}

}  // namespace
}  // namespace kestio
