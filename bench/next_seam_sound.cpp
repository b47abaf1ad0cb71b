// The sound at a post-roll Next seam, at the real pace: a clip (its 1 kHz tone) plays to its out
// point with post-roll Next, the next slot (the same clip from its in point) preloaded meanwhile
// as the show does, and the program sound is read from what the null device rendered. The gap
// is the longest stretch without the tone around the seam; the pictures are not looked at.
//
//   bench_next_seam_sound                      in points 0 and 0.5 s of the next cue
//   bench_next_seam_sound --benchmark_filter=/500

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "clock_seconds.h"
#include "media_bench.h"
#include "model/localization_manager.h"
#include "output/output_surface.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/user_defaults.h"
#include "playback/playback_controller.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"

namespace {

using namespace kestio;
using namespace kestio::platform;

constexpr double kRate = 48000.0;
constexpr double kOutPoint = 1.0;  // of the clip on air, where Next takes the following slot

struct Rig {
    Rig() {
        controller = std::make_unique<PlaybackController>(
            PlaybackServices{loop, nullptr,
                             std::make_unique<output::OutputSurface>(
                                 output::OutputSurface::Services{loop, device, media}),
                             &localization});
        controller->view().setViewSize({320.0, 180.0});
        controller->projectProvider = [this]() -> std::optional<ProjectData> { return project; };
        controller->onRequestPlay = [this](int, int slot) { play(slot); };
        controller->onRequestPreloadNext = [this](int, int slot) {
            const auto& data = project.banks[0].slots[std::size_t(slot)];
            controller->preloadNext(0, slot, *data.videoURL, data);
        };
    }
    ~Rig() { controller.reset(); }
    void play(int slot) {
        const auto& data = project.banks[0].slots[std::size_t(slot)];
        controller->play(0, slot, *data.videoURL, data, {320.0, 180.0});
    }
    // Follows the steady clock for `seconds`, the device rendering up to it; keeps the sound.
    void follow(double seconds) {
        const double until = bench::steadyNow() + seconds;
        do {
            loop.waitForPosted(1.0 / 480.0);
            loop.advance(std::max(0.0, bench::steadyNow() - loop.now().seconds()));
            const auto due = std::uint64_t((loop.now().seconds() - started) * kRate);
            if (due > pulled) {
                device->pull(std::uint32_t(due - pulled));
                const auto& left = device->channel(0);
                heard.insert(heard.end(), left.begin(), left.end());
                device->clearCaptured();
                pulled = due;
            }
        } while (bench::steadyNow() < until);
    }

    ManualRunLoop loop{HostTime(bench::steadyNow())};
    const double started = loop.now().seconds();
    std::uint64_t pulled = 0;
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(kRate, 2, "Null", loop.hostClock());
    media::DecodedMediaFactory media{loop};
    InMemoryUserDefaults defaults;
    LocalizationManager localization{defaults};
    ProjectData project;
    std::unique_ptr<PlaybackController> controller;
    std::vector<float> heard;
};

// The longest run of samples in `samples` that the tone never lifts above a tenth of its peak
// (a zero crossing of either tone lasts a few samples), in seconds.
double longestGap(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    const auto floor = float(0.1 * test::kToneAmplitude);
    std::size_t longest = 0;
    std::size_t run = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        run = std::abs(samples[i]) < floor ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return double(longest) / kRate;
}

// Arguments: the next cue's in point in milliseconds; the clip (0: 320x180 with a 1 kHz tone,
// 1: 1080p grain with a 440 Hz tone; both at 29.97 fps, their tones an eighth of full scale).
// Counters: the gap at the seam (median and
// worst over the iterations, in ms).
void BM_NextSeamSound(benchmark::State& state) {
    const bool fullHd = state.range(1) != 0;
    const std::filesystem::path path = fullHd ? bench::grainClip({.height = 1080,
                                                                  .frameRate = "30000/1001",
                                                                  .rateName = "29.97",
                                                                  .frames = 120,
                                                                  .keyFrameInterval = 60,
                                                                  .sound = true})
                                              : test::mediaFixtures().rateClip({30000, 1001}).path;
    const double duration = fullHd ? 120.0 * 1001.0 / 30000.0 : 2.0;
    std::vector<double> gaps;
    for (auto _ : state) {
        Rig rig;
        rig.project.rows = 1;
        rig.project.columns = 2;
        rig.project.banks.resize(1);
        for (int s = 0; s < 2; ++s) {
            SlotData slot;
            slot.name = "s" + std::to_string(s);
            slot.videoURL = path;
            ClipInfo info;
            info.fps = 30000.0 / 1001.0;
            info.duration = duration;
            slot.clipInfo = info;
            rig.project.banks[0].slots.push_back(slot);
        }
        auto& first = rig.project.banks[0].slots[0];
        first.outPoint = kOutPoint;
        first.postRollMode = PostRollMode::next;
        rig.project.banks[0].slots[1].inPoint = double(state.range(0)) / 1000.0;
        rig.follow(0.3);
        rig.heard.clear();
        rig.play(0);
        rig.follow(kOutPoint + 0.8);
        const auto start = std::size_t(
            std::find_if(rig.heard.begin(), rig.heard.end(),
                         [](float s) { return std::abs(s) > 0.5f * test::kToneAmplitude; }) -
            rig.heard.begin());
        if (start >= rig.heard.size()) {
            state.SkipWithError("the first cue was never heard");
            return;
        }
        // From half a second into the first cue to half a second past its out point.
        gaps.push_back(longestGap(rig.heard, start + std::size_t(0.5 * kRate),
                                  start + std::size_t((kOutPoint + 0.5) * kRate)));
    }
    std::sort(gaps.begin(), gaps.end());
    state.counters["gap_median_ms"] = gaps[gaps.size() / 2] * 1e3;
    state.counters["gap_worst_ms"] = gaps.back() * 1e3;
}
BENCHMARK(BM_NextSeamSound)
    ->ArgNames({"in_point_ms", "full_hd"})
    ->Args({0, 0})
    ->Args({500, 0})
    ->Args({0, 1})
    ->Args({500, 1})
    ->Iterations(8)
    ->Unit(benchmark::kSecond);

}  // namespace
