// The playback controller's timing on the real classes: from play() of a clip that is not
// preloaded to its first composed picture, beside FFmpeg's own open and first decode of the
// same file in the same run; and how far from the out point the post-roll comes.
//
//   bench_playback_timing --benchmark_filter=FirstFrame
//   bench_playback_timing --benchmark_filter=OutPoint

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <memory>

#include "media_bench.h"
#include "model/localization_manager.h"
#include "output/output_surface.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/media/decoded_player_item.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/user_defaults.h"
#include "playback/playback_controller.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace kestio;
using namespace kestio::platform;
using kestio::platform::media::testing::runUntil;

// A controller on the real surface, decoders and engine; the null device's clock is the run
// loop's.
struct Rig {
    Rig() {
        controller = std::make_unique<PlaybackController>(
            PlaybackServices{loop, nullptr,
                             std::make_unique<output::OutputSurface>(
                                 output::OutputSurface::Services{loop, device, media}),
                             &localization});
        controller->view().setViewSize({320.0, 180.0});
        controller->projectProvider = [this]() -> std::optional<ProjectData> { return project; };
    }
    ~Rig() { controller.reset(); }

    void play(int slot) {
        const auto& data = project.banks[0].slots[std::size_t(slot)];
        controller->play(0, slot, *data.videoURL, data, {1920.0, 1080.0});
    }

    ManualRunLoop loop;
    std::shared_ptr<kestio::test::NullAudioDevice> device =
        std::make_shared<kestio::test::NullAudioDevice>(48000.0, 2, "Null", loop.hostClock());
    media::DecodedMediaFactory media{loop};
    InMemoryUserDefaults defaults;
    LocalizationManager localization{defaults};
    Compositor compositor;
    ProjectData project;
    std::unique_ptr<PlaybackController> controller;
};

// CPU time of every thread of this process, in seconds.
double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The 1080p clip of both benchmarks: argument 1 with a sound track, 0 without.
const fs::path& clipFor(const benchmark::State& state) {
    kestio::bench::GrainClip clip;
    clip.sound = state.range(0) != 0;
    return kestio::bench::grainClip(clip);
}

SlotData slotFor(const fs::path& path, double fps) {
    SlotData slot;
    slot.name = path.filename().string();
    slot.videoURL = path;
    ClipInfo info;
    info.fps = fps;
    slot.clipInfo = info;
    return slot;
}

// From play() to the first composed picture of the clip (slot B on air, its picture there),
// the two slots taking turns so that nothing is preloaded. Counter: the CPU time of all the
// process's threads from play() to that picture.
void BM_PlayToFirstFrame(benchmark::State& state) {
    const fs::path& path = clipFor(state);
    Rig rig;
    rig.project.banks.resize(1);
    rig.project.banks[0].slots = {slotFor(path, 25.0), slotFor(path, 25.0)};
    int slot = 0;
    double cpu = 0.0;
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds();
        auto& target = rig.controller->view().hiddenSlot();
        rig.play(slot);
        // The clip is on air once its slot shows and the composed output is no longer black.
        // The device renders as the clock moves (a millisecond a look), as a real one would.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool shown = false;
        while (!shown && std::chrono::steady_clock::now() < deadline) {
            rig.loop.waitForPosted(0.001);
            rig.loop.advance(0.001);
            rig.device->pull(48);
            if (&rig.controller->view().showingSlot() != &target) {
                continue;
            }
            const QImage out = rig.compositor.render(*rig.controller->view().rootLayer(),
                                                     rig.loop.now(), QSize(320, 180));
            shown = !out.isNull() && qGray(out.pixel(160, 90)) > 0;
        }
        if (!shown) {
            state.SkipWithError("the clip never came on air");
            return;
        }
        cpu += processCpuSeconds() - cpuBefore;
        state.PauseTiming();
        rig.controller->handlePostRoll(PostRollMode::black);
        rig.loop.runPending();
        slot = 1 - slot;
        state.ResumeTiming();
    }
    state.counters["cpu_ms_all_threads"] =
        benchmark::Counter(cpu * 1e3, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PlayToFirstFrame)
    ->ArgName("sound")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// FFmpeg's own open of the same file and decode of its first picture, in this process (with
// FFmpeg's default of one decoding thread). Counter as above.
void BM_FfmpegOpenAndFirstDecode(benchmark::State& state) {
    const fs::path& path = clipFor(state);
    double cpu = 0.0;
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds();
        AVFormatContext* format = nullptr;
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(format, nullptr) < 0) {
            state.SkipWithError("cannot open");
            return;
        }
        const AVCodec* codec = nullptr;
        const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        AVCodecContext* context = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(context, format->streams[stream]->codecpar);
        avcodec_open2(context, codec, nullptr);
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        bool decoded = false;
        while (!decoded && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream && avcodec_send_packet(context, packet) >= 0) {
                decoded = avcodec_receive_frame(context, frame) >= 0;
            }
            av_packet_unref(packet);
        }
        if (!decoded) {
            avcodec_send_packet(context, nullptr);
            decoded = avcodec_receive_frame(context, frame) >= 0;
        }
        benchmark::DoNotOptimize(decoded);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
        avformat_close_input(&format);
        cpu += processCpuSeconds() - cpuBefore;
    }
    state.counters["cpu_ms_all_threads"] =
        benchmark::Counter(cpu * 1e3, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FfmpegOpenAndFirstDecode)
    ->ArgName("sound")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Plays of a generated clip with an out point at 1 s and post-roll next: where the clip's time
// stands when the post-roll comes, in frames past the out point (the target is one frame
// before it, -1). Counters: the latest and the earliest over the plays.
void BM_OutPointAccuracy(benchmark::State& state) {
    const bool ntsc60 = state.range(0) == 60;
    const auto& clip = kestio::test::mediaFixtures().rateClip(
        ntsc60 ? kestio::test::Rational{60000, 1001} : kestio::test::Rational{30000, 1001});
    const double fps = ntsc60 ? 60000.0 / 1001.0 : 30000.0 / 1001.0;
    Rig rig;
    auto slot = slotFor(clip.path, fps);
    slot.outPoint = 1.0;
    slot.postRollMode = PostRollMode::next;
    rig.project.banks.resize(1);
    rig.project.banks[0].slots = {slot, slot};
    double latest = -1e9;
    double earliest = 1e9;
    bool fired = false;
    double firedAt = 0.0;
    rig.controller->onRequestPlay = [&](int, int) {
        fired = true;
        firedAt = rig.controller->view().showingSlot().player()->currentTime();
    };
    for (auto _ : state) {
        fired = false;
        rig.play(0);
        for (int step = 0; step < 400 && !fired; ++step) {
            for (auto* s : {&rig.controller->view().slotA(), &rig.controller->view().slotB()}) {
                auto item =
                    std::dynamic_pointer_cast<media::DecodedPlayerItem>(s->player()->current());
                if (item && item->statusValue() == media::ItemStatus::ReadyToPlay &&
                    s->player()->rateValue() > 0.0f) {
                    media::testing::waitForDecoded(rig.loop, *item, item->currentTime() + 0.02);
                }
            }
            rig.loop.waitForPosted(0.002);
            rig.loop.advance(0.01);
            rig.device->pull(480);
        }
        if (!fired) {
            state.SkipWithError("the post-roll never came");
            return;
        }
        const double frames = (firedAt - 1.0) * fps;
        latest = std::max(latest, frames);
        earliest = std::min(earliest, frames);
        rig.controller->handlePostRoll(PostRollMode::black);
        rig.loop.runPending();
    }
    state.counters["latest_frames_past_out"] = latest;
    state.counters["earliest_frames_past_out"] = earliest;
}
BENCHMARK(BM_OutPointAccuracy)->Arg(30)->Arg(60)->Iterations(100)->Unit(benchmark::kMillisecond);

}  // namespace
