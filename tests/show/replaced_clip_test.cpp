// A clip replaced on disk under its name (a new render copied over the old file, as `cp` does:
// the same file, its bytes rewritten) plays its new sound: whatever the program read, opened or
// probed of the old content is not used for the new, whether the show is opened again or not.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

// A new render of the clip (the old one is 2 s of H.264 and AAC).
struct Render {
    const char* what;
    double seconds;
    const char* video;
    const char* audio;
    bool padded;  // made up to the old file's size with a "free" box, which readers pass over
};
constexpr Render kRenders[] = {{"smaller", 1.0, "libx264", "aac", false},
                               {"same size", 1.8, "libx264", "aac", true},
                               {"larger", 4.0, "libx264", "aac", false},
                               {"other codec", 2.0, "mpeg4", "libmp3lame", false}};

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

    // Copies the new render over `file`, rewriting the file itself (as `cp` does).
    void replace(const fs::path& file, const Render& next) {
        const auto oldSize = fs::file_size(file);
        std::string bytes =
            bytesOf(render("new.mp4", next.seconds, kNewTone, next.video, next.audio));
        if (next.padded) {
            ASSERT_GT(oldSize, bytes.size() + 8);
            const auto pad = static_cast<std::uint32_t>(oldSize - bytes.size());
            for (int shift : {24, 16, 8, 0}) {
                bytes.push_back(static_cast<char>((pad >> shift) & 0xff));
            }
            bytes += "free";
            bytes.resize(oldSize, '\0');
        }
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
    for (const Render& next : kRenders) {
        for (bool reopened : {false, true}) {
            SCOPED_TRACE(std::string(next.what) + (reopened ? ", reopened" : ""));
            show->projectIO().closeProject();
            const fs::path file = render("Clip.mp4", 2.0, kOldTone);
            ProjectData project(4, 10);
            project.banks[0].slots[0] = probed(file);
            const fs::path package = rig.parts.projectManager.save(
                project, folder / (std::string(next.what) + std::to_string(reopened) + ".ktshow"));
            open(package);
            const auto [before, unheard] = fire();
            EXPECT_GT(before, 0.05);
            // Played to its end and frozen there.
            ASSERT_TRUE(runUntil([&] { return controller.currentTime.get() > 1.9; }, 5.0));
            runFor(0.5);

            replace(file, next);
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
