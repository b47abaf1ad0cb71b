// A save that fails or is cut short never costs the previous package.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "model/project_coding.h"
#include "model/project_manager.h"
#include "platform/storage/forked_child.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;
using platform::Bytes;

// Two versions of a show that differ in every slot name and thumbnail content; their
// thumbnails have equal sizes so that either matches a document of the other by size.
ProjectData version(char tag) {
    ProjectData p(4, 10);
    for (std::size_t b = 0; b < p.banks.size(); ++b) {
        for (std::size_t s = 0; s < p.banks[b].slots.size(); ++s) {
            auto& slot = p.banks[b].slots[s];
            slot.name = std::string(40, tag) + std::to_string(b * 100 + s);
            if (s % 4 == 0) {
                slot.thumbnail = Bytes(3000, static_cast<std::uint8_t>(tag));
            }
        }
    }
    return p;
}

// The saved project as a load gives it back (names recorded, thumbnails read).
ProjectData asLoaded(ProjectData p) {
    for (std::size_t b = 0; b < p.banks.size(); ++b) {
        for (std::size_t s = 0; s < p.banks[b].slots.size(); ++s) {
            auto& slot = p.banks[b].slots[s];
            if (slot.thumbnail) {
                slot.thumbnailFileName =
                    "thumb_" + std::to_string(b) + "_" + std::to_string(s) + ".png";
            }
        }
    }
    return p;
}

class PackageInterruptionTest : public ::testing::Test {
  protected:
    ProjectData loadWithoutBookmark() {
        ProjectData p = manager.load(package);
        p.thumbnailsFolderBookmark.reset();
        return p;
    }

    kestio::test::TemporaryFolder folder;
    fs::path package = folder / "Show.ktshow";
    platform::BookmarkService bookmarks;
    ProjectManager manager{bookmarks};
    ProjectData a = asLoaded(version('a'));
    ProjectData b = asLoaded(version('b'));
};

TEST_F(PackageInterruptionTest, ADiskFullDuringTheDocumentLeavesThePreviousPackage) {
    manager.save(a, package);
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
    const ProjectData loaded = loadWithoutBookmark();
    EXPECT_EQ(loaded.banks[0].slots[1].name, a.banks[0].slots[1].name);
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
                manager.save(i % 2 ? a : b, package);
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
        ASSERT_NO_THROW(loaded = loadWithoutBookmark()) << "round " << round;
        ASSERT_TRUE(loaded == a || loaded == b) << "round " << round;
    }
}

}  // namespace
}  // namespace kestio
