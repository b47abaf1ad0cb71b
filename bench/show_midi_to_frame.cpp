// The time from a MIDI note leaving another JACK client to the first composed output frame of
// the slot it fires, the slot's clip preloaded in the hidden playback slot as the next cue. The
// whole show runs on its real parts: a private JACK server on the dummy driver, the MIDI input
// controller, the show controller, the playback controller decoding a generated 30 fps clip
// with FFmpeg on the null audio device, and the compositor drawing the output at 320x180. The
// run loop's clock follows the wall clock, so its timers and the players run in real time.
// Each iteration: black output, preload, send "90 24 64", then turn the loop and compose until
// the picture differs from black. The figure includes the JACK cycle that carries the note (the
// goal: under one frame period, 33 ms at 30 fps, plus that transport).
#include <benchmark/benchmark.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "output/playback_slot.h"
#include "platform/graphics/compositor.h"
#include "platform/media/decoded_player_item.h"
#include "platform/midi/jack_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "playback/playback_controller.h"
#include "show/midi_routing.h"
#include "show/show_controller.h"
#include "support/jack_midi_peer.h"
#include "support/jack_server.h"
#include "support/live_show_rig.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"

namespace {

using namespace kestio;
using Clock = std::chrono::steady_clock;

// The show on its real parts with MIDI through JACK, the output composed at 320x180.
struct LiveRig {
    LiveRig() {
        controller.view().setViewSize({320.0, 180.0});
        auto& slot = const_cast<ProjectData&>(show->project()).banks[0].slots[0];
        slot.videoURL = test::mediaFixtures().rateClip({30, 1}).path;
        slot.name = "clip";
        slot.mediaType = MediaType::video;
        slot.addMIDIBinding(1, 0x24);
        last = Clock::now();
    }

    // One turn: work handed over by other threads, then the clock moved up to the wall clock.
    void turn(double waitSeconds) {
        loop.waitForPosted(waitSeconds);
        const auto now = Clock::now();
        loop.advance(std::chrono::duration<double>(now - last).count());
        real.device->pull(64);
        last = now;
    }
    template <class Pred>
    bool turnUntil(Pred done, double wallSeconds) {
        const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(wallSeconds));
        while (!done()) {
            if (Clock::now() > deadline) {
                return false;
            }
            turn(0.0005);
        }
        return true;
    }
    QImage composed() {
        return compositor.render(*controller.view().rootLayer(), loop.now(), QSize(320, 180));
    }
    static bool isBlack(const QImage& image) {
        for (int y = 0; y < image.height(); y += 9) {
            for (int x = 0; x < image.width(); x += 16) {
                if (qGray(image.pixel(x, y)) > 24) {
                    return false;
                }
            }
        }
        return true;
    }
    // The slot's clip stands decoded in the hidden slot as the next cue, its sound loaded.
    bool preloaded() {
        if (!controller.preloadedCue() || !controller.view().hiddenSlot().audio().loadFinished()) {
            return false;
        }
        auto item = std::dynamic_pointer_cast<platform::media::DecodedPlayerItem>(
            controller.view().hiddenSlot().player()->current());
        return item && item->statusValue() == platform::media::ItemStatus::ReadyToPlay &&
               platform::media::testing::waitForDecoded(loop, *item, 0.05);
    }

    platform::ManualRunLoop loop;
    Clock::time_point last;
    platform::JackMIDISystem midiSystem{loop};
    test::LiveShowRig real{loop, midiSystem, {.asApplication = true}};
    PlaybackController& controller = real.controller;
    MIDIInputController& midi = real.parts.midi;
    std::unique_ptr<ShowController>& show = real.show;
    platform::Compositor compositor;
};

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_MIDINoteToFirstComposedFrame(benchmark::State& state) {
    test::JackServer server;
    if (!server.running()) {
        state.SkipWithError(("no JACK server: " + server.failure()).c_str());
        return;
    }
    auto pads = test::JackMidiPeer::source("KestioBenchPads", "out");
    LiveRig rig;
    rig.midi.start();
    rig.show->midiRouting().setupMIDIInput();
    // Until the new connection carries messages.
    bool primed = false;
    for (int attempt = 0; attempt < 100 && !primed; ++attempt) {
        pads.send({0xBF, 0x7F, 0x00});
        primed = rig.turnUntil([&] { return rig.midi.lastMessageDescription.get() != "—"; }, 0.1);
    }
    if (!primed) {
        state.SkipWithError("the JACK connection never carried a message");
        return;
    }
    std::vector<double> transport;
    std::vector<double> onHost;
    for (auto _ : state) {
        rig.controller.handlePostRoll(PostRollMode::black);
        rig.show->preloadNextGo(0, 0);
        if (!rig.turnUntil([&] { return rig.preloaded() && LiveRig::isBlack(rig.composed()); },
                           10.0)) {
            state.SkipWithError("the clip was never preloaded");
            return;
        }
        rig.midi.lastMessageDescription = std::string("—");
        // A cue is preloaded well before its note in a show: the output settles first.
        const auto settled = Clock::now() + std::chrono::milliseconds(300);
        rig.turnUntil([&] { return Clock::now() >= settled; }, 1.0);
        const auto sent = Clock::now();
        pads.send({0x90, 0x24, 0x64});
        std::optional<Clock::time_point> arrived;
        if (!rig.turnUntil(
                [&] {
                    if (!arrived && rig.midi.lastMessageDescription.get() != "—") {
                        arrived = Clock::now();
                    }
                    return !LiveRig::isBlack(rig.composed());
                },
                10.0)) {
            state.SkipWithError("the slot never showed");
            return;
        }
        const auto shown = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(shown - sent).count());
        if (arrived) {
            transport.push_back(std::chrono::duration<double, std::milli>(*arrived - sent).count());
            onHost.push_back(std::chrono::duration<double, std::milli>(shown - *arrived).count());
        }
    }
    // Milliseconds per note, median and worst: the JACK transport to the main thread, and from
    // there to the composed frame.
    state.counters["transport_median_ms"] = median(transport);
    state.counters["note_to_frame_median_ms"] = median(onHost);
    state.counters["note_to_frame_max_ms"] =
        onHost.empty() ? 0.0 : *std::max_element(onHost.begin(), onHost.end());
}

}  // namespace

BENCHMARK(BM_MIDINoteToFirstComposedFrame)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);
