// A long loop's sound against its picture, pass after pass: a slot of the real surface loops a
// 29.97 fps clip from 0.5 s to 4.5 s (picture and sound on its clip player, the engine on a null
// device whose clock is the run loop's, in virtual time). The clip carries a white frame and a
// 1 kHz beep starting at that frame's time, twice a pass; for every flash the offset of its beep
// (the first rendered sample of it) from the host time at which the picture reaches the flash's
// frame. Each pass's offsets are printed; the counters give the first, the last and the worst.
//
// The same on a private PulseAudio server at the real pace, the beeps found in a recording of the
// sink's monitor placed on host time by the server's own timing (as the end-to-end tests hear
// the program), where a loaded machine may starve the output.
//
//   bench_loop_drift                                  40 passes each (under 3 minutes of loop)
//   KESTIO_LOOP_PASSES=900 bench_loop_drift           an hour of passes

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/pulse_server.h"
#include "audio/timed_recording.h"
#include "media_bench.h"
#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/pulse_audio_device.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"
#include "sync/recorded_beeps.h"

namespace {

using namespace kestio;
using namespace kestio::platform;

constexpr double kRate = 48000.0;
constexpr double kFps = 30000.0 / 1001.0;
constexpr double kIn = 0.5;
constexpr double kOut = 4.5;
// The white frames (and the beeps starting at their times): frames 45 and 105.
constexpr int kFlashFrames[] = {45, 105};
constexpr double kBeepAmplitude = 0.5;

const std::filesystem::path& flashBeepLoopClip(int soundRate) {
    std::string enable;
    std::string beeps;
    for (const int frame : kFlashFrames) {
        const double t = frame / kFps;
        enable += std::string(enable.empty() ? "" : "+") + "eq(n\\," + std::to_string(frame) + ")";
        beeps += std::string(beeps.empty() ? "" : "+") + "between(t\\," + std::to_string(t) +
                 "\\," + std::to_string(t + 0.05) + ")";
    }
    return bench::benchClip(
        "loop_drift_2997_" + std::to_string(soundRate) + ".mp4", std::chrono::minutes(2),
        "color=black:size=320x180:rate=30000/1001:duration=5,"
        "drawbox=color=white:thickness=fill:enable='" +
            enable + "'",
        [beeps, soundRate](const std::filesystem::path& partial) {
            return std::vector<std::string>{
                "-f",
                "lavfi",
                "-i",
                "aevalsrc=" + std::to_string(kBeepAmplitude) + "*sin(2*PI*1000*t)*(" + beeps +
                    "):s=" + std::to_string(soundRate) + ":c=stereo:d=5",
                "-c:v",
                "libx264",
                "-g",
                "60",
                "-pix_fmt",
                "yuv420p",
                "-c:a",
                "aac",
                "-b:a",
                "192k",
                "-shortest",
                partial.string()};
        });
}

// The surface on a null device, pulled from this thread in virtual time; every pulled frame is
// kept with the host time it is heard at.
struct Rig {
    Rig() { surface.setViewSize({320.0, 180.0}); }

    void pull(uint32_t frames) {
        device->pull(0);
        for (auto* chain : {&surface.audioA(), &surface.audioB()}) {
            chain->playerNode()->waitUntilPrepared(20.0);
        }
        starts.push_back({heard.size(), loop.now().seconds()});
        device->pull(frames);
        const auto& left = device->channel(0);
        heard.insert(heard.end(), left.begin(), left.end());
        device->clearCaptured();
        loop.advance(frames / kRate);
        media::testing::waitForDecodedAhead(
            {surface.slotA().player().get(), surface.slotB().player().get()});
        loop.runPending();
    }
    double hostTimeOf(std::size_t frame) const {
        const auto after =
            std::upper_bound(starts.begin(), starts.end(), frame,
                             [](std::size_t f, const Start& s) { return f < s.frame; });
        const Start& s = *std::prev(after);
        return s.host + double(frame - s.frame) / kRate;
    }

    struct Start {
        std::size_t frame;
        double host;
    };
    ManualRunLoop loop{HostTime(1000.0)};
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(kRate, 2, "Null", loop.hostClock());
    media::DecodedMediaFactory media{loop};
    output::OutputSurface surface{output::OutputSurface::Services{loop, device, media}};
    std::vector<float> heard;
    std::vector<Start> starts;
};

int passesAsked() {
    const char* asked = std::getenv("KESTIO_LOOP_PASSES");
    return std::max(1, asked != nullptr ? std::atoi(asked) : 40);
}

// The offsets' counters: the first, the last, the worst and the last less the first, in ms.
void report(benchmark::State& state, const std::vector<double>& offsets) {
    state.counters["flashes"] = double(offsets.size());
    state.counters["first_ms"] = offsets.front() * 1e3;
    state.counters["last_ms"] = offsets.back() * 1e3;
    double worst = 0.0;
    for (const double offset : offsets) {
        worst = std::max(worst, std::abs(offset));
    }
    state.counters["worst_abs_ms"] = worst * 1e3;
    state.counters["drift_ms"] = (offsets.back() - offsets.front()) * 1e3;
}

void BM_LoopDrift(benchmark::State& state) {
    const auto& path = flashBeepLoopClip(int(state.range(0)));
    const int passes = passesAsked();
    for (auto _ : state) {
        Rig rig;
        output::PlaybackSlot& slot = rig.surface.slotA();
        rig.surface.prepareForPlay(false);
        auto asset = rig.media.makeAsset(path);
        bool ready = false;
        slot.startLoop(path, asset, rig.media.makeItem(asset), kIn, kOut,
                       [&ready] { ready = true; });
        for (int i = 0; i < 4000 && !(ready && slot.clipPlayer().startTime().get()); ++i) {
            rig.loop.waitForPosted(0.002);
            rig.pull(256);
        }
        if (!slot.clipPlayer().startTime().get()) {
            state.SkipWithError("the loop never started");
            return;
        }
        const auto& clock = *rig.surface.sharedEngine().clock();
        const double start = slot.clipPlayer().startTime().get()->seconds();
        std::vector<double> offsets;
        for (int pass = 0; pass < passes; ++pass) {
            for (const int frame : kFlashFrames) {
                const double flashTime = frame / kFps;
                const double due = start + pass * (kOut - kIn) + (flashTime - kIn);
                while (clock.timeAt(rig.loop.now()).seconds() < due - 0.05) {
                    rig.pull(2400);
                }
                // The picture: the host time its item time reaches the flash's frame, to the
                // millisecond.
                double before = slot.player()->currentTime();
                double flash = NAN;
                for (int i = 0; i < 400 && std::isnan(flash); ++i) {
                    const double host = rig.loop.now().seconds();
                    rig.pull(48);
                    const double now = slot.player()->currentTime();
                    if (before < flashTime - 1e-6 && now >= flashTime - 1e-6) {
                        flash = host + (flashTime - before) / std::max(now - before, 1e-9) *
                                           (rig.loop.now().seconds() - host);
                    }
                    before = now;
                }
                while (clock.timeAt(rig.loop.now()).seconds() < due + 0.1) {
                    rig.pull(480);
                }
                // The sound: the beep's first sample from a tenth of a second before the flash.
                std::size_t from = rig.heard.size() - std::size_t(0.3 * kRate);
                while (from < rig.heard.size() &&
                       std::abs(rig.heard[from]) < float(0.5 * kBeepAmplitude)) {
                    ++from;
                }
                if (std::isnan(flash) || from >= rig.heard.size()) {
                    state.SkipWithError(
                        ("flash or beep not found on pass " + std::to_string(pass)).c_str());
                    return;
                }
                // The beep passes half its level about a quarter period after its start.
                const double beep = rig.hostTimeOf(from) - 0.25e-3;
                offsets.push_back(beep - flash);
                std::printf("pass %d frame %d: sound minus picture %+.2f ms\n", pass, frame,
                            (beep - flash) * 1e3);
            }
            // Keep the kept sound short.
            if (rig.heard.size() > std::size_t(2 * kRate)) {
                const std::size_t drop = rig.heard.size() - std::size_t(kRate);
                rig.heard.erase(rig.heard.begin(), rig.heard.begin() + long(drop));
                for (auto& s : rig.starts) {
                    s.frame = s.frame >= drop ? s.frame - drop : 0;
                }
            }
        }
        report(state, offsets);
    }
}

// Argument: the clip's sound rate (the engine's is 48 kHz).
BENCHMARK(BM_LoopDrift)
    ->ArgName("sound_rate")
    ->Arg(48000)
    ->Arg(44100)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

void BM_LoopDriftOnPulse(benchmark::State& state) {
    static int argc = 1;
    static char name[] = "bench_loop_drift";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    test::PulseServer pulse;
    if (const std::string why = pulse.start(); !why.empty()) {
        state.SkipWithError(("no sound server: " + why).c_str());
        return;
    }
    const auto& path = flashBeepLoopClip(48000);
    const int passes = passesAsked();
    for (auto _ : state) {
        ManualRunLoop loop{HostTime(test::steadyNow())};
        auto device =
            std::make_shared<audio::PulseAudioDevice>(loop, std::make_shared<SteadyHostClock>());
        media::DecodedMediaFactory media{loop};
        test::TimedRecording recording("null.monitor");
        output::OutputSurface surface{output::OutputSurface::Services{loop, device, media}};
        surface.setViewSize({320.0, 180.0});
        test::SteadyClockFollower follow(loop, passes * (kOut - kIn) + 60.0);
        while (recording.frames() < std::size_t(kRate / 2) && follow()) {
        }
        output::PlaybackSlot& slot = surface.slotA();
        surface.prepareForPlay(false);
        auto asset = media.makeAsset(path);
        bool ready = false;
        slot.startLoop(path, asset, media.makeItem(asset), kIn, kOut, [&ready] { ready = true; });
        while (!(ready && slot.clipPlayer().startTime().get()) && follow()) {
        }
        if (!slot.clipPlayer().startTime().get()) {
            state.SkipWithError("the loop never started");
            return;
        }
        const auto& clock = *surface.sharedEngine().clock();
        const double start = slot.clipPlayer().startTime().get()->seconds();
        std::vector<double> flashes;
        for (int pass = 0; pass < passes; ++pass) {
            for (const int frame : kFlashFrames) {
                const double flashTime = frame / kFps;
                const double due = start + pass * (kOut - kIn) + (flashTime - kIn);
                while (clock.timeAt(loop.now()).seconds() < due - 0.05 && follow()) {
                }
                // The picture: the host time its item time reaches the flash's frame, between
                // two looks about 2 ms apart.
                double before = slot.player()->currentTime();
                double beforeHost = loop.now().seconds();
                double flash = NAN;
                while (std::isnan(flash) && follow() &&
                       clock.timeAt(loop.now()).seconds() < due + 0.2) {
                    const double now = slot.player()->currentTime();
                    const double host = loop.now().seconds();
                    if (before < flashTime - 1e-6 && now >= flashTime - 1e-6) {
                        flash = beforeHost + (flashTime - before) / std::max(now - before, 1e-9) *
                                                 (host - beforeHost);
                    }
                    before = now;
                    beforeHost = host;
                }
                flashes.push_back(flash);
            }
        }
        while (recording.hostTimeOf(double(recording.frames())).value_or(-1e300) <
                   flashes.back() + 0.3 &&
               follow()) {
        }
        surface.stopAll();
        const auto left = recording.left();
        std::vector<double> offsets;
        for (std::size_t k = 0; k < flashes.size(); ++k) {
            const auto from = recording.frameAt(flashes[k] - 0.3).value_or(double(left.size()));
            const std::size_t at =
                std::size_t(std::max(0.0, from)) +
                test::firstAbove(std::span<const float>(left).subspan(
                                     std::min(left.size(), std::size_t(std::max(0.0, from)))),
                                 float(0.5 * kBeepAmplitude));
            if (std::isnan(flashes[k]) || at >= left.size()) {
                std::printf("flash %zu: not found\n", k);
                continue;
            }
            const double beep = *recording.hostTimeOf(double(at)) - 0.25e-3;
            offsets.push_back(beep - flashes[k]);
            std::printf("pass %zu flash %zu: sound minus picture %+.2f ms\n", k / 2, k % 2,
                        (beep - flashes[k]) * 1e3);
        }
        if (offsets.empty()) {
            state.SkipWithError("no beep found");
            return;
        }
        report(state, offsets);
    }
}
BENCHMARK(BM_LoopDriftOnPulse)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
