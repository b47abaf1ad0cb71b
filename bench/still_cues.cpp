// Still cues fired in a row on the real controller, its own decode threads and the real still
// decoder: five 20-megapixel PNGs fired 50 ms apart, from the last one fired to it being on
// air, beside the same cue fired alone in the same run. A decode that a later cue made
// pointless should cost the last cue nothing: the ratio is about 1 when it is let go, about
// the number of cues before it when the last waits for them.
//
//   bench_still_cues --benchmark_filter=StillCues

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "clock_seconds.h"
#include "media_bench.h"
#include "model/localization_manager.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/user_defaults.h"
#include "playback/playback_controller.h"
#include "support/live_show_rig.h"

namespace {

namespace fs = std::filesystem;
using namespace kestio;
using namespace kestio::platform;

constexpr int kCues = 5;
constexpr double kCueSpacingSeconds = 0.05;

// A 5472x3648 photo-like PNG (a test pattern under grain, so that it compresses as a photo
// does), a different one for each `index`.
const fs::path& stillPicture(int index) {
    return bench::benchClip("still_20mp_" + std::to_string(index) + ".png", std::chrono::minutes(2),
                            "testsrc2=size=5472x3648:rate=1",
                            [index](const fs::path& partial) -> std::vector<std::string> {
                                return {
                                    "-frames:v",
                                    "1",
                                    "-vf",
                                    "noise=alls=12:allf=u:all_seed=" + std::to_string(index + 1),
                                    "-pix_fmt",
                                    "rgb24",
                                    "-f",
                                    "image2",
                                    partial.string()};
                            });
}

struct Rig {
    Rig() {
        controller.view().setViewSize({320.0, 180.0});
        project.banks.resize(1);
        for (int i = 0; i < kCues; ++i) {
            SlotData slot;
            slot.name = "still" + std::to_string(i);
            slot.videoURL = stillPicture(i);
            slot.mediaType = MediaType::still;
            slot.stillDuration = 60.0;
            project.banks[0].slots.push_back(slot);
        }
        controller.projectProvider = [this]() -> std::optional<ProjectData> { return project; };
    }

    void fire(int slot) {
        const auto& data = project.banks[0].slots[std::size_t(slot)];
        controller.play(0, slot, *data.videoURL, data, {1920.0, 1080.0});
    }
    bool onAir(int slot) {
        // On air as the output records it (the published slot names a cue from its key press).
        const auto& shown = controller.view().foreground();
        return shown && shown->ref.slot == slot && controller.view().showingSlot().isStill();
    }
    // Runs the loop's posted work for `seconds` of wall time, or until `slot` is on air.
    void runFor(double seconds, int slot = -1) {
        const double until = bench::secondsOf(CLOCK_MONOTONIC) + seconds;
        while (bench::secondsOf(CLOCK_MONOTONIC) < until && (slot < 0 || !onAir(slot))) {
            loop.waitForPosted(0.001);
            loop.runPending();
        }
    }
    // Fires the cues in `slots` kCueSpacingSeconds apart; the seconds from the last one fired
    // to it being on air (negative when it never came within a minute).
    double fireInARow(const std::vector<int>& slots) {
        double lastFired = 0.0;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (i > 0) {
                runFor(kCueSpacingSeconds);
            }
            lastFired = bench::secondsOf(CLOCK_MONOTONIC);
            fire(slots[i]);
        }
        runFor(60.0, slots.back());
        const double took = bench::secondsOf(CLOCK_MONOTONIC) - lastFired;
        return onAir(slots.back()) ? took : -1.0;
    }
    // Back to black, and the decode threads given time to finish what the cues left them.
    void rest() {
        controller.handlePostRoll(PostRollMode::black);
        runFor(3.0);
    }

    ManualRunLoop loop;
    InMemoryUserDefaults defaults;
    LocalizationManager localization{defaults};
    ProjectData project;
    test::LivePlaybackRig output{loop, {.localization = &localization}};
    PlaybackController& controller = output.controller;
};

// Each iteration: the last still fired alone, then all five fired 50 ms apart. Counters: the
// time from firing to on air of the cue alone and of the last of five, and their ratio.
void BM_StillCues(benchmark::State& state) {
    Rig rig;
    std::vector<int> all;
    for (int i = 0; i < kCues; ++i) {
        all.push_back(i);
    }
    double alone = 0.0;
    double lastOfFive = 0.0;
    for (auto _ : state) {
        const double one = rig.fireInARow({kCues - 1});
        rig.rest();
        const double last = rig.fireInARow(all);
        rig.rest();
        if (one < 0.0 || last < 0.0) {
            state.SkipWithError("a still never came on air");
            return;
        }
        alone += one;
        lastOfFive += last;
    }
    const double n = double(state.iterations());
    state.counters["alone_ms"] = alone / n * 1e3;
    state.counters["last_of_five_ms"] = lastOfFive / n * 1e3;
    state.counters["last_over_alone"] = lastOfFive / alone;
}
BENCHMARK(BM_StillCues)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
