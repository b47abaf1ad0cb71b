// A clip replaced on disk under its name (a new render copied over the old file, as `cp` does:
// the same file, its bytes rewritten) plays its new sound: whatever the program read, opened or
// probed of the old content is not used for the new, whether the show is opened again or not.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/stat.h>

#include "import/clip_importer.h"
#include "model/project_manager.h"
#include "show/project_io.h"
#include "support/ffmpeg_complaints.h"
#include "support/live_show_fixture.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

constexpr double kOldTone = 1000.0;
constexpr double kNewTone = 440.0;

enum class Size { smaller, same, larger, otherCodec };

const char* sizeName(Size size) {
    switch (size) {
        case Size::smaller:
            return "smaller";
        case Size::same:
            return "same size";
        case Size::larger:
            return "larger";
        case Size::otherCodec:
            return "other codec";
    }
    return "";
}

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ino_t inodeOf(const fs::path& file) {
    struct stat status {};
    EXPECT_EQ(::stat(file.c_str(), &status), 0);
    return status.st_ino;
}

class ReplacedClip : public LiveShowFixture {
  protected:
    TemporaryFolder folder;
    FfmpegComplaints complaints;
    int warmUps = 0;  // begun
    platform::Subscription watching =
        controller.warmTotal.subscribe([this](int total) { warmUps += total > 0 ? 1 : 0; });

    fs::path render(const std::string& name, double seconds, double tone,
                    const std::string& video = "libx264", const std::string& audio = "aac") {
        const fs::path file = folder / name;
        const auto result = writeToneClip(file, seconds, tone, video, audio);
        EXPECT_TRUE(result.succeeded()) << result.errorOutput;
        return file;
    }

    // Copies a new render of `size` over `file`, keeping the file itself (its inode).
    void replace(const fs::path& file, Size size) {
        const auto oldSize = fs::file_size(file);
        fs::path fresh;
        switch (size) {
            case Size::smaller:
                fresh = render("new.mp4", 1.0, kNewTone);
                break;
            case Size::same:
                // A little shorter, then made up to the old size with a "free" box at its end,
                // which the container's readers pass over.
                fresh = render("new.mp4", 1.8, kNewTone);
                break;
            case Size::larger:
                fresh = render("new.mp4", 4.0, kNewTone);
                break;
            case Size::otherCodec:
                fresh = render("new.mp4", 2.0, kNewTone, "mpeg4", "libmp3lame");
                break;
        }
        std::string bytes = bytesOf(fresh);
        if (size == Size::same) {
            ASSERT_GT(oldSize, bytes.size() + 8);
            const auto pad = static_cast<std::uint32_t>(oldSize - bytes.size());
            for (int shift : {24, 16, 8, 0}) {
                bytes.push_back(static_cast<char>((pad >> shift) & 0xff));
            }
            bytes += "free";
            bytes.resize(oldSize, '\0');
        }
        const auto inode = inodeOf(file);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        ASSERT_EQ(inodeOf(file), inode);
        if (size == Size::same) {
            ASSERT_EQ(fs::file_size(file), oldSize);
        }
        // Rendered a while after the old one.
        fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
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

    // Opens the package (also the one open) and waits until its warm-up is over.
    void open(const fs::path& package) {
        const int before = warmUps;
        show->projectIO().loadProject(package);
        ASSERT_TRUE(runUntil([&] {
            return warmUps > before && show->currentProjectURL.get() == package &&
                   !show->isLoading.get() && !controller.isWarming() &&
                   controller.warmTotal.get() == 0;
        }));
        runFor(0.5);
    }

    // Fires the slot and gives the amplitudes of the old and the new tone heard once it runs.
    std::pair<double, double> fire() {
        show->playSlot(0, 0);
        EXPECT_TRUE(runUntil([&] { return controller.currentTime.get() > 0.1; }));
        const std::size_t from = device->captured().empty() ? 0 : device->channel(0).size();
        runFor(0.5);
        const auto& left = device->channel(0);
        const std::span<const float> heard(left.data() + from, left.size() - from);
        return {toneAmplitude(heard, 48000, kOldTone), toneAmplitude(heard, 48000, kNewTone)};
    }
};

TEST_F(ReplacedClip, TheNewSoundIsHeardWhetherTheShowIsOpenedAgainOrNot) {
    for (Size size : {Size::smaller, Size::same, Size::larger, Size::otherCodec}) {
        for (bool reopened : {false, true}) {
            SCOPED_TRACE(std::string(sizeName(size)) + (reopened ? ", reopened" : ""));
            show->projectIO().closeProject();
            const fs::path file = render("Clip.mp4", 2.0, kOldTone);
            ProjectData project(4, 10);
            project.banks[0].slots[0] = probed(file);
            const fs::path package = rig.parts.projectManager.save(
                project,
                folder / (std::string(sizeName(size)) + std::to_string(reopened) + ".ktshow"));
            open(package);
            const auto [before, unheard] = fire();
            EXPECT_GT(before, 0.05);
            // Played to its end and frozen there.
            ASSERT_TRUE(runUntil([&] { return controller.currentTime.get() > 1.9; }, 5.0));
            runFor(0.5);

            replace(file, size);
            complaints.clear();
            if (reopened) {
                open(package);
            }
            // Fired twice: once on each of the output's two players.
            for (int take = 0; take < 2; ++take) {
                const auto [old, heard] = fire();
                EXPECT_LT(old, 0.01) << take;
                EXPECT_GT(heard, 0.05) << take;
            }
            EXPECT_LT(complaints.count(), 5);
        }
    }
}

}  // namespace
}  // namespace kestio::test
