// The playback controller's timing on the real classes: from play() of a clip that is not
// preloaded to its first composed picture, beside FFmpeg's own open and first decode of the
// same file in the same run; how far from the out point the post-roll comes; at the real pace
// with a presenter composing the program, from play() of a preloaded cue to its first composed
// picture, and the late pictures of a loop at its seams beside those in mid-pass.
//
//   bench_playback_timing --benchmark_filter=FirstFrame
//   bench_playback_timing --benchmark_filter=FirstSound
//   bench_playback_timing --benchmark_filter=OutPoint
//   bench_playback_timing --benchmark_filter=PreloadedCue
//   bench_playback_timing --benchmark_filter=LoopSeams

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "clock_seconds.h"
#include "media_bench.h"
#include "model/localization_manager.h"
#include "output/output_surface.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
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
        const double cpuBefore = bench::secondsOf(CLOCK_PROCESS_CPUTIME_ID);
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
        cpu += bench::secondsOf(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
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

// From play() of a clip with a sound track, not preloaded, to its slot on air and to the first
// sample of its sound the device plays, from the start (argument 0) or from an in point a second
// in, between two key frames (argument 1000, in milliseconds): like with like in one run, the
// slots taking turns. The device renders as the clock moves, a millisecond a look. Counters, in
// milliseconds of the run loop's clock: play() to the take and to the first sound, and the sound's
// start after the take (negative: before it).
void BM_PlayToFirstSound(benchmark::State& state) {
    kestio::bench::GrainClip grain;
    grain.sound = true;
    const fs::path& path = kestio::bench::grainClip(grain);
    Rig rig;
    rig.project.banks.resize(1);
    rig.project.banks[0].slots = {slotFor(path, 25.0), slotFor(path, 25.0)};
    for (auto& slot : rig.project.banks[0].slots) {
        if (state.range(0) > 0) {
            slot.inPoint = double(state.range(0)) / 1000.0;
        }
    }
    int slot = 0;
    double toTake = 0.0;
    double toSound = 0.0;
    double soundAfterTake = 0.0;
    for (auto _ : state) {
        auto& target = rig.controller->view().hiddenSlot();
        rig.device->clearCaptured();
        const double start = rig.loop.now().seconds();
        rig.play(slot);
        std::optional<double> taken;
        std::optional<double> heard;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!(heard && taken) && std::chrono::steady_clock::now() < deadline) {
            rig.loop.waitForPosted(0.001);
            rig.loop.advance(0.001);
            const double pulledAt = rig.loop.now().seconds();
            rig.device->pull(48);
            if (!taken && &rig.controller->view().showingSlot() == &target) {
                taken = rig.loop.now().seconds();
            }
            if (heard || rig.device->captured().empty()) {
                continue;
            }
            const auto& left = rig.device->channel(0);
            const auto loud = std::find_if(left.end() - std::min<std::ptrdiff_t>(48, left.size()),
                                           left.end(), [](float v) { return std::abs(v) > 1e-3f; });
            if (loud != left.end()) {
                heard = pulledAt + double(loud - (left.end() - 48)) / 48000.0;
            }
        }
        if (!heard || !taken) {
            state.SkipWithError("the clip's sound never started");
            return;
        }
        toTake += *taken - start;
        toSound += *heard - start;
        soundAfterTake += *heard - *taken;
        state.PauseTiming();
        rig.controller->handlePostRoll(PostRollMode::black);
        rig.loop.runPending();
        // The clip's fade-out is played before the next one is timed.
        for (int i = 0; i < 100; ++i) {
            rig.loop.advance(0.001);
            rig.device->pull(48);
            rig.loop.runPending();
        }
        slot = 1 - slot;
        state.ResumeTiming();
    }
    state.counters["play_to_take_ms"] =
        benchmark::Counter(toTake * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["play_to_sound_ms"] =
        benchmark::Counter(toSound * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["sound_after_take_ms"] =
        benchmark::Counter(soundAfterTake * 1e3, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PlayToFirstSound)
    ->ArgName("in_point_ms")
    ->Arg(0)
    ->Arg(1000)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// FFmpeg's own open of the same file and decode of its first picture, in this process (with
// FFmpeg's default of one decoding thread). Counter as above.
void BM_FfmpegOpenAndFirstDecode(benchmark::State& state) {
    const fs::path& path = clipFor(state);
    double cpu = 0.0;
    for (auto _ : state) {
        const double cpuBefore = bench::secondsOf(CLOCK_PROCESS_CPUTIME_ID);
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
        cpu += bench::secondsOf(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
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

// A controller on the real surface, decoders and engine at the real pace (the run loop follows
// the steady clock, the null device renders up to it), and a presenter composing the program
// at `size` and `rate` refreshes a second on the steady clock. For each refresh it composes,
// `onComposed` gets the picture on the presenter thread.
struct LiveRig {
    LiveRig(QSize size, double rate) {
        controller = std::make_unique<PlaybackController>(
            PlaybackServices{loop, nullptr,
                             std::make_unique<output::OutputSurface>(
                                 output::OutputSurface::Services{loop, device, media}),
                             &localization});
        controller->view().setViewSize({double(size.width()), double(size.height())});
        controller->projectProvider = [this]() -> std::optional<ProjectData> { return project; };
        controller->onRequestPlay = [](int, int) {};
        publisher.setRoot(controller->view().rootLayer());
        presenter.setSource(publisher.slot());
        presenter.setSize(size);
        presenter.setRefreshRate(rate);
        presenter.setFrameReady([this] {
            const double at = kestio::bench::steadyNow();
            const PresentedFrame frame = presenter.newestFrame();
            if (onComposed) {
                onComposed(frame, at);
            }
        });
    }
    ~LiveRig() {
        presenter.stop();
        controller.reset();
    }
    void play(int slot) {
        const auto& data = project.banks[0].slots[std::size_t(slot)];
        const auto size = controller->view().monitorSize();
        controller->play(0, slot, *data.videoURL, data, size);
    }
    // Follows the steady clock until `done` holds, looked at after each turn of the run loop
    // (at most 2 ms apart); false after 30 s.
    bool followUntil(const std::function<bool()>& done) {
        const double deadline = kestio::bench::steadyNow() + 30.0;
        while (!done()) {
            if (kestio::bench::steadyNow() > deadline) {
                return false;
            }
            pace.follow(0.0);
        }
        return true;
    }

    ManualRunLoop loop{HostTime(kestio::bench::steadyNow())};
    std::shared_ptr<kestio::test::NullAudioDevice> device =
        std::make_shared<kestio::test::NullAudioDevice>(48000.0, 2, "Null", loop.hostClock());
    kestio::bench::SteadyPace pace{loop, *device};
    media::DecodedMediaFactory media{loop};
    InMemoryUserDefaults defaults;
    LocalizationManager localization{defaults};
    ProjectData project;
    std::unique_ptr<PlaybackController> controller;
    SnapshotPublisher publisher{loop};
    Presenter presenter{std::make_shared<SteadyHostClock>()};
    std::function<void(const PresentedFrame&, double at)> onComposed;
};

bool isBlack(const QImage& picture) {
    return !picture.isNull() &&
           qGray(picture.pixel(picture.width() / 2, picture.height() / 2)) == 0;
}

// The program formats of the on-air benchmark: argument 1080 for 1080p59.94, 2160 for 2160p29.97.
struct ProgramFormat {
    QSize size;
    double rate;
    std::string ffmpegRate;
    std::string rateName;
};
ProgramFormat programFormat(const benchmark::State& state) {
    if (state.range(0) == 2160) {
        return {{3840, 2160}, 30000.0 / 1001.0, "30000/1001", "29.97"};
    }
    return {{1920, 1080}, 60000.0 / 1001.0, "60000/1001", "59.94"};
}

// The moments of one cue's way on air, in steady-clock seconds (NaN: not seen).
struct CueSteps {
    double asked = NAN;       // play() called
    double returned = NAN;    // play() returned
    double cut = NAN;         // the surface switched to the cue's slot
    double started = NAN;     // the clip player published its start
    double startsAt = NAN;    // the host time that start stands for
    double published = NAN;   // first seen: a snapshot for the presenter with the slot on air
    double woke = NAN;        // the refresh that composed the cue's first picture began
    double composed = NAN;    // that picture was composed
    double target = NAN;      // the presentation time of its refresh
    int frame = -1;           // the frame number it shows
    bool recomposed = false;  // that refresh was composed again for it, before its time
};

// The median and the worst of `values` (NaN entries left out).
std::pair<double, double> medianAndWorst(std::vector<double> values) {
    std::erase_if(values, [](double v) { return std::isnan(v); });
    if (values.empty()) {
        return {NAN, NAN};
    }
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

// Black on air, the next cue (a frame-numbered clip with sound) preloaded into the hidden slot
// and its first picture ready: from play() to the first picture the presenter composes showing
// the clip, in periods of the program's frame rate. The two slots take turns. Counters: the
// median and the worst over the cues, to the composed picture and to that refresh's
// presentation time; the frame the first composed picture shows (the worst: the highest); and,
// from play(), each step on the way (median and worst): play() returned, the cut, the clip
// player's start published and the time it stands for, the snapshot with the slot on air seen
// by the run loop's thread (to within its 2 ms turns), and the presenter's wake for the refresh
// that composed the picture; and how many cues' first pictures came from a refresh composed
// again for the snapshot with the cut, before its time.
void BM_PreloadedCueOnAir(benchmark::State& state) {
    const ProgramFormat format = programFormat(state);
    const auto& path = kestio::bench::grainClip({.height = int(format.size.height()),
                                                 .frameRate = format.ffmpegRate,
                                                 .rateName = format.rateName,
                                                 .frames = 120,
                                                 .keyFrameInterval = 60,
                                                 .sound = true,
                                                 .frameNumbers = true});
    const double period = 1.0 / format.rate;
    LiveRig rig(format.size, format.rate);
    rig.project.banks.resize(1);
    rig.project.banks[0].slots = {slotFor(path, format.rate), slotFor(path, format.rate)};
    for (auto& slot : rig.project.banks[0].slots) {
        slot.clipInfo->duration = 120.0 / format.rate;
    }
    struct Composed {
        double at;
        double target;
        bool black;
        int frame;
        bool again;  // the refresh composed again, for a snapshot stored before its time
    };
    std::mutex mutex;
    std::vector<Composed> composed;
    std::uint64_t lastRefresh = 0;  // presenter thread only
    rig.onComposed = [&](const PresentedFrame& frame, double at) {
        const bool again = frame.refresh == lastRefresh;
        lastRefresh = frame.refresh;
        const QImage& image = frame.image;
        const bool black = isBlack(image);
        // Only the strip is read, so the presenter thread stays quick.
        const int number =
            black || image.isNull()
                ? -1
                : kestio::test::readFrameNumber(
                      image.copy(0, 0, image.width(),
                                 image.height() / kestio::test::FrameNumberStrip::kHeightDivisor));
        std::lock_guard lock(mutex);
        composed.push_back({at, frame.targetTime.seconds(), black, number, again});
    };
    CueSteps steps;
    rig.controller->view().onCutStarted = [&](bool) {
        if (std::isnan(steps.cut)) {
            steps.cut = kestio::bench::steadyNow();
        }
    };
    rig.presenter.start();
    // Argument `waiting` 1: a thread waits for each refresh, as the output window's present loop
    // does, so the presenter composes every refresh rather than resting on the black picture.
    std::atomic<bool> presenting{state.range(1) != 0};
    std::thread presentLoop;
    if (presenting) {
        presentLoop = std::thread([&] {
            while (presenting) {
                rig.presenter.waitForRefresh(rig.presenter.newestFrame().refresh + 1, 0.05);
            }
        });
    }
    std::vector<CueSteps> cues;
    int slot = 0;
    for (auto _ : state) {
        state.PauseTiming();
        rig.controller->handlePostRoll(PostRollMode::black);
        const auto& data = rig.project.banks[0].slots[std::size_t(slot)];
        auto& hidden = rig.controller->view().hiddenSlot();
        const bool targetIsA = &hidden == &rig.controller->view().slotA();
        bool ready = rig.followUntil([&] { return isBlack(rig.presenter.newestFrame().image); });
        rig.controller->preloadNext(0, slot, *data.videoURL, data);
        ready = ready && rig.followUntil([&] {
            return hidden.playerLayer().readyForDisplay() && hidden.audio().loadFinished();
        });
        if (!ready || !rig.controller->preloadedCue()) {
            state.SkipWithError("the cue was not preloaded");
            return;
        }
        rig.pace.follow(0.1);
        {
            std::lock_guard lock(mutex);
            composed.clear();
        }
        steps = CueSteps{};
        const auto startWatch =
            hidden.clipPlayer().startTime().subscribe([&](const std::optional<ClockTime>& at) {
                if (at && std::isnan(steps.started)) {
                    steps.started = kestio::bench::steadyNow();
                    steps.startsAt =
                        rig.controller->view().sharedEngine().clock()->hostTimeAt(*at).seconds();
                }
            });
        // The slot's container in the published tree: A's is drawn first, B's above it.
        const auto slotOnAir = [&] {
            const auto snapshot = rig.publisher.slot()->load();
            if (!snapshot || snapshot->sublayers.size() < 2) {
                return false;
            }
            return snapshot->sublayers[targetIsA ? 0 : 1]->opacity == 1.0f;
        };
        state.ResumeTiming();
        steps.asked = kestio::bench::steadyNow();
        rig.play(slot);
        steps.returned = kestio::bench::steadyNow();
        std::optional<Composed> first;
        const bool shown = rig.followUntil([&] {
            if (std::isnan(steps.published) && slotOnAir()) {
                steps.published = kestio::bench::steadyNow();
            }
            std::lock_guard lock(mutex);
            for (const auto& c : composed) {
                // The clip's own picture: not black, its frame number readable.
                if (c.at > steps.asked && !c.black && c.frame >= 0) {
                    first = c;
                    return true;
                }
            }
            return false;
        });
        if (!shown) {
            state.SkipWithError("the cue never came on air");
            return;
        }
        state.SetIterationTime(first->at - steps.asked);
        steps.composed = first->at;
        steps.target = first->target;
        // A refresh composed on its turn begins at its period's start; one composed again begins
        // as the snapshot is stored, seen here as `published` (to within a turn of the loop).
        steps.woke = first->target - period;
        if (first->again && !std::isnan(steps.published)) {
            steps.woke = std::max(steps.woke, steps.published);
        }
        steps.recomposed = first->again;
        steps.frame = first->frame;
        cues.push_back(steps);
        slot = 1 - slot;
    }
    presenting = false;
    if (presentLoop.joinable()) {
        presentLoop.join();
    }
    rig.presenter.stop();
    rig.controller->view().onCutStarted = nullptr;
    // In frame periods from play(), per cue, for `field`.
    // From `from` to `to` of each cue, in frame periods: median and worst.
    const auto count = [&](const std::string& name, double CueSteps::*from, double CueSteps::*to) {
        std::vector<double> values;
        for (const auto& cue : cues) {
            values.push_back((cue.*to - cue.*from) * format.rate);
        }
        const auto [median, worst] = medianAndWorst(values);
        state.counters[name + "_median_frames"] = median;
        state.counters[name + "_worst_frames"] = worst;
    };
    state.counters["cues"] = double(cues.size());
    state.counters["recomposed_cues"] = double(
        std::count_if(cues.begin(), cues.end(), [](const CueSteps& c) { return c.recomposed; }));
    count("composed", &CueSteps::asked, &CueSteps::composed);
    std::vector<double> presented;
    std::vector<double> frames;
    for (const auto& cue : cues) {
        presented.push_back((cue.target - cue.asked) * format.rate);
        frames.push_back(double(cue.frame));
    }
    state.counters["presented_median_frames"] = medianAndWorst(presented).first;
    state.counters["presented_worst_frames"] = medianAndWorst(presented).second;
    state.counters["first_frame_shown_highest"] = medianAndWorst(frames).second;
    state.counters["first_frame_shown_lowest"] = *std::min_element(frames.begin(), frames.end());
    count("returned", &CueSteps::asked, &CueSteps::returned);
    count("cut", &CueSteps::asked, &CueSteps::cut);
    count("start_published", &CueSteps::asked, &CueSteps::started);
    count("start_time", &CueSteps::asked, &CueSteps::startsAt);
    count("published", &CueSteps::asked, &CueSteps::published);
    count("woke", &CueSteps::asked, &CueSteps::woke);
    // The two parts after the snapshot: the wait for the refresh, and its composing.
    count("wait_for_refresh", &CueSteps::published, &CueSteps::woke);
    count("composing", &CueSteps::woke, &CueSteps::composed);
}
BENCHMARK(BM_PreloadedCueOnAir)
    ->ArgNames({"height", "waiting"})
    ->Args({1080, 0})
    ->Args({1080, 1})
    ->Args({2160, 0})
    ->Args({2160, 1})
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A loop over frames 30 to 30 + `range` - 1 of a 1080p59.94 clip with sound (its key frames 60
// apart, so each pass begins by decoding from the key frame before it), played by the
// controller and composed at 1920x1080 by a presenter at 59.94, for `passes` passes. The frame
// number of each composed picture is read from its strip; a refresh is late when it does not
// show the picture after the one the refresh before showed (a picture shown again, one skipped,
// a refresh skipped, a picture that cannot be read). Refreshes are counted at seams (the
// refresh after a pass's last picture and the one after its first) and in mid-pass.
void BM_LoopSeams(benchmark::State& state) {
    const int range = int(state.range(0));
    const int passes = int(state.range(1));
    constexpr double kRate = 60000.0 / 1001.0;
    constexpr int kFirst = 30;
    const int last = kFirst + range - 1;
    const auto& path = kestio::bench::grainClip({.height = 1080,
                                                 .frameRate = "60000/1001",
                                                 .rateName = "59.94",
                                                 .frames = 120,
                                                 .keyFrameInterval = 60,
                                                 .sound = true,
                                                 .frameNumbers = true});
    for (auto _ : state) {
        LiveRig rig({1920, 1080}, kRate);
        auto slot = slotFor(path, kRate);
        slot.clipInfo->duration = 120.0 / kRate;
        slot.postRollMode = PostRollMode::loop;
        slot.inPoint = kFirst / kRate;
        slot.outPoint = (kFirst + range) / kRate;
        rig.project.banks.resize(1);
        rig.project.banks[0].slots = {slot};
        struct Shown {
            std::uint64_t refresh;
            int frame;
        };
        std::mutex mutex;
        std::vector<Shown> shown;
        shown.reserve(std::size_t(passes * range * 2));
        bool recording = false;
        rig.onComposed = [&](const PresentedFrame& frame, double) {
            const QImage& image = frame.image;
            // Only the strip is read, so the presenter thread stays quick.
            const int number =
                image.isNull()
                    ? -1
                    : kestio::test::readFrameNumber(image.copy(
                          0, 0, image.width(),
                          image.height() / kestio::test::FrameNumberStrip::kHeightDivisor));
            std::lock_guard lock(mutex);
            if (recording) {
                shown.push_back({frame.refresh, number});
            }
        };
        rig.presenter.start();
        rig.play(0);
        if (!rig.followUntil([&] {
                auto& s = rig.controller->view().showingSlot();
                return s.isLooping() && s.containerLayer()->opacity() == 1.0f &&
                       s.clipPlayer().startTime().get().has_value();
            })) {
            state.SkipWithError("the loop never came on air");
            return;
        }
        rig.pace.follow(0.5);
        {
            std::lock_guard lock(mutex);
            recording = true;
        }
        rig.pace.follow(double(passes * range) / kRate);
        rig.presenter.stop();
        std::lock_guard lock(mutex);
        double seamRefreshes = 0;
        double seamLate = 0;
        double midRefreshes = 0;
        double midLate = 0;
        double unreadable = 0;
        for (std::size_t i = 1; i < shown.size(); ++i) {
            const int before = shown[i - 1].frame;
            if (before < 0) {
                continue;
            }
            const int wanted = before == last ? kFirst : before + 1;
            const bool late =
                shown[i].refresh != shown[i - 1].refresh + 1 || shown[i].frame != wanted;
            unreadable += shown[i].frame < 0 ? 1 : 0;
            const bool atSeam = before == last || before == kFirst;
            (atSeam ? seamRefreshes : midRefreshes) += 1;
            (atSeam ? seamLate : midLate) += late ? 1 : 0;
        }
        state.counters["refreshes"] = double(shown.size());
        state.counters["seam_refreshes"] = seamRefreshes;
        state.counters["seam_late"] = seamLate;
        state.counters["mid_refreshes"] = midRefreshes;
        state.counters["mid_late"] = midLate;
        state.counters["unreadable"] = unreadable;
    }
}
BENCHMARK(BM_LoopSeams)
    ->ArgNames({"range", "passes"})
    ->Args({6, 1000})
    ->Args({30, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
