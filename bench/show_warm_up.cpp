// The warm-up of 80 generated clips (one-second H.264 + AAC, 160x120) on the real playback
// controller, clip importer and null audio device, as the show runs it after opening a project.
// "total_s" is the wall time of the run; "rss_peak_mb" the largest resident size sampled after
// each clip, "rss_growth_mb" how much it grew from the first clip to the last (it must not grow
// with the number of clips warmed).
//
//   bench/bench_show_warm_up

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "control/key_binding_store.h"
#include "control/keyboard_shortcut_handler.h"
#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "import/clip_importer.h"
#include "model/project_manager.h"
#include "model/recent_projects.h"
#include "output/output_surface.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/user_defaults.h"
#include "playback/playback_controller.h"
#include "resident_memory.h"
#include "show/live_show_importer.h"
#include "show/live_show_playback.h"
#include "show/show_controller.h"
#include "support/null_audio_device.h"
#include "support/process_runner.h"
#include "support/scripted_dialog_presenter.h"
#include "support/temporary_folder.h"

namespace {

using namespace kestio;
namespace fs = std::filesystem;

constexpr int kClips = 80;

struct RealShow {
    platform::ManualRunLoop loop;
    platform::InMemoryUserDefaults defaults;
    platform::BookmarkService bookmarks;
    platform::LoopbackMIDISystem midiSystem{loop};
    MIDIInputController midi{loop, midiSystem};
    MIDIOutputController midiOut{loop, midiSystem};
    KeyBindingStore keyBindings{defaults};
    KeyboardShortcutHandler keyboard{keyBindings};
    ProjectManager projectManager{bookmarks};
    RecentProjects recentProjects{defaults, bookmarks};
    ClipImporter clipImporter{loop, bookmarks};
    LiveShowImporter importer{clipImporter};
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock());
    platform::media::DecodedMediaFactory media{loop};
    PlaybackController controller{PlaybackServices{
        .loop = loop,
        .wallClock = nullptr,
        .view = std::make_unique<output::OutputSurface>(
            output::OutputSurface::Services{.loop = loop, .audioDevice = device, .media = media}),
        .localization = nullptr,
        .decodeStill = {},
        .runInBackground = {}}};
    LiveShowPlayback playback{controller};
    test::ScriptedDialogPresenter dialogs;
    ShowController show{ShowServices{
        .loop = loop,
        .playback = playback,
        .importer = importer,
        .midi = midi,
        .midiOut = midiOut,
        .keyboard = keyboard,
        .dialogs = dialogs,
        .bookmarks = bookmarks,
        .defaults = defaults,
        .projectManager = projectManager,
        .recentProjects = recentProjects,
    }};

    RealShow() {
        controller.projectProvider = [this]() -> std::optional<ProjectData> {
            return show.project();
        };
    }
};

void BM_WarmUp80(benchmark::State& state) {
    test::TemporaryFolder folder;
    const fs::path first = folder / "clip0.mp4";
    const auto made = test::runProcess({"ffmpeg",
                                        "-nostdin",
                                        "-v",
                                        "error",
                                        "-y",
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "testsrc=size=160x120:rate=25:duration=1",
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "sine=frequency=1000:sample_rate=48000:duration=1",
                                        "-c:v",
                                        "libx264",
                                        "-pix_fmt",
                                        "yuv420p",
                                        "-c:a",
                                        "aac",
                                        "-shortest",
                                        first.string()},
                                       std::chrono::seconds(60));
    if (!made.succeeded()) {
        state.SkipWithError(made.errorOutput.c_str());
        return;
    }
    platform::BookmarkService bookmarks;
    ProjectData project(4, 10);
    for (int i = 0; i < kClips; ++i) {
        const fs::path file = folder / ("clip" + std::to_string(i) + ".mp4");
        if (i > 0) {
            fs::copy_file(first, file);
        }
        SlotData& slot = project.banks[std::size_t(i / 40)].slots[std::size_t(i % 40)];
        slot.name = file.stem().string();
        slot.bookmarkData = bookmarks.bookmarkData(file);
    }
    const fs::path package = ProjectManager(bookmarks).save(project, folder / "Warm.ktshow");

    for (auto _ : state) {
        RealShow real;
        std::vector<double> resident;
        auto sampling = real.controller.warmDone.subscribe(
            [&](int) { resident.push_back(bench::residentBytes()); });
        const auto start = std::chrono::steady_clock::now();
        real.show.loadProject(package);
        bool started = false;
        while (!started || real.show.isLoading.get()) {
            started = started || real.show.isLoading.get();
            real.loop.runPending();
            if (!real.loop.waitForPosted(0.005)) {
                real.loop.advance(0.005);
            }
        }
        state.counters["total_s"] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (resident.size() > 2) {
            state.counters["rss_peak_mb"] =
                *std::max_element(resident.begin(), resident.end()) / 1e6;
            state.counters["rss_growth_mb"] = (resident[resident.size() - 2] - resident[1]) / 1e6;
        }
    }
}
BENCHMARK(BM_WarmUp80)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
