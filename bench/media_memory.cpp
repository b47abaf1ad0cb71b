// Memory and decode speed of playing items: the resident memory one ready item adds (its
// decoder, read-ahead and decoded queue), for 2160p and 1080p H.264 at 29.97; what a looping
// clip adds, and two playing clips with a third preloaded, as the program output holds them;
// and the rate at which the item's decoder (with the thread count playback chooses) decodes
// and converts 2160p29.97, against the 29.97 pictures a second it has to keep up with.
//
// Run on four cores, as the target machine, one benchmark per process (memory a process has
// once used stays resident): taskset -c 0-3 bench/bench_media_memory
//   --benchmark_filter=BM_ReadyItemMemory/2160 --benchmark_out=media_memory_2160.json
// The clips are made with the ffmpeg command into the fixture folder the first time.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media_bench.h"
#include "platform/graphics/color_lut.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/presenter.h"
#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_item.h"
#include "platform/media/decoded_player_layer.h"
#include "platform/media/decoded_player_looper.h"
#include "platform/media/decoded_queue_player.h"
#include "platform/media/item_decoder.h"
#include "platform/media/video_decoder.h"
#include "platform/runloop/manual_run_loop.h"
#include "resident_memory.h"

namespace {

using namespace kestio::platform;
using namespace kestio::platform::media;
namespace fs = std::filesystem;
using kestio::bench::grainClip;
using kestio::bench::runUntil;

constexpr double kRate = 30000.0 / 1001.0;
constexpr int kFrames = 150;  // 5 s, a key frame every 2 s

const fs::path& clip(int height) {
    return grainClip({.height = height,
                      .frameRate = "30000/1001",
                      .rateName = "29.97",
                      .frames = kFrames,
                      .keyFrameInterval = 60});
}

using kestio::bench::residentBytes;

// One item's decoder, opened, its queue full and its read-ahead done (no event for half a
// second): what it adds to the resident memory of the process.
void BM_ReadyItemMemory(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        malloc_trim(0);
        const double before = residentBytes();
        ManualRunLoop loop;
        bool opened = false;
        bool failed = false;
        auto decoder = std::make_unique<ItemDecoder>(
            path, loop,
            [&](const DecoderEvent& event) {
                loop.post([&, event] {
                    opened = opened || event.kind == DecoderEvent::Kind::Opened;
                    failed = failed || event.kind == DecoderEvent::Kind::Failed;
                });
            },
            ItemDecoder::Settings{});
        if (!runUntil(loop, [&] { return opened || failed; }) || failed ||
            !runUntil(loop, [&] { return decoder->buffer().full || decoder->buffer().ended; })) {
            state.SkipWithError("the item did not become ready");
            return;
        }
        while (loop.waitForPosted(0.5)) {
        }
        const double after = residentBytes();
        state.counters["MB"] = (after - before) / 1e6;
        state.counters["threads"] = decoder->decodeThreadCount();
        decoder.reset();
    }
}
BENCHMARK(BM_ReadyItemMemory)->Arg(2160)->Arg(1080)->Iterations(1)->Unit(benchmark::kMillisecond);

// Plays for `seconds` of wall time, the run loop's clock following the wall clock.
void playFor(ManualRunLoop& loop, double seconds) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    double played = 0.0;
    while (played < seconds) {
        loop.waitForPosted(1.0 / 240.0);
        const double now = std::chrono::duration<double>(Clock::now() - start).count();
        loop.advance(now - played);
        played = now;
    }
}

std::shared_ptr<DecodedPlayerItem> itemFor(ManualRunLoop& loop, const fs::path& path) {
    return DecodedPlayerItem::make(DecodedAsset::make(loop, path));
}

// A 2 s range of a clip looping for 5 s (two seams), and what it adds to the resident memory.
void BM_LoopingMemory(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        malloc_trim(0);
        const double before = residentBytes();
        ManualRunLoop loop;
        auto player = DecodedQueuePlayer::make(loop);
        DecodedPlayerLooper looper(player, itemFor(loop, path), TimeRange::fromTo(1.0, 3.0));
        if (!runUntil(loop, [&] { return looper.statusValue() != LooperStatus::Unknown; }) ||
            looper.statusValue() != LooperStatus::Ready) {
            state.SkipWithError("the looper did not become ready");
            return;
        }
        player->play();
        playFor(loop, 5.0);
        state.counters["MB"] = (residentBytes() - before) / 1e6;
        state.counters["passes"] = looper.loopCount();
        player->pause();
    }
}
BENCHMARK(BM_LoopingMemory)->Arg(2160)->Arg(1080)->Iterations(1)->Unit(benchmark::kMillisecond);

// Two clips playing (the A and B slots during a dissolve) and a third preloaded, paused at its
// start, and what they add to the resident memory after 3 s.
void BM_TwoPlayingOnePreloadedMemory(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        malloc_trim(0);
        const double before = residentBytes();
        ManualRunLoop loop;
        std::vector<std::shared_ptr<DecodedQueuePlayer>> players;
        std::vector<std::shared_ptr<DecodedPlayerItem>> items;
        for (int n = 0; n < 3; ++n) {
            players.push_back(DecodedQueuePlayer::make(loop));
            items.push_back(itemFor(loop, path));
            players.back()->insert(items.back());
        }
        if (!runUntil(loop, [&] {
                return std::all_of(items.begin(), items.end(), [](const auto& item) {
                    return item->statusValue() != ItemStatus::Unknown;
                });
            })) {
            state.SkipWithError("the items did not become ready");
            return;
        }
        players[0]->play();
        players[1]->play();
        playFor(loop, 3.0);
        state.counters["MB"] = (residentBytes() - before) / 1e6;
        for (auto& player : players) {
            player->pause();
        }
    }
}
BENCHMARK(BM_TwoPlayingOnePreloadedMemory)
    ->Arg(2160)
    ->Arg(1080)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// One 2160p clip playing for 5 s with two views of it composing every refresh (the output at
// full size and the player panel's 547x308 picture); state.range(0): 1 with a colour correction
// on the player, 0 without. What both add to the resident memory: the corrected pictures the
// player keeps for its views are the difference.
void BM_PlayingWithTwoViewsMemory(benchmark::State& state) {
    const bool colour = state.range(0) != 0;
    const fs::path& path = clip(2160);
    for (auto _ : state) {
        malloc_trim(0);
        const double before = residentBytes();
        ManualRunLoop loop;
        auto player = DecodedQueuePlayer::make(loop);
        if (colour) {
            const auto lut = std::make_shared<const ColorLut>(
                ColorFilterChain({ColorControls{0.05f, 1.1f, 1.2f}, GammaAdjust{0.9f},
                                  ColorMatrix{1.1f, 1.0f, 0.9f}}));
            player->setFrameFilter(std::make_shared<const FrameFilter>(
                [lut](const QImage& picture) { return lut->apply(picture); }));
        }
        auto item = itemFor(loop, path);
        player->insert(item);
        if (!runUntil(loop, [&] { return item->statusValue() != ItemStatus::Unknown; })) {
            state.SkipWithError("the item did not become ready");
            return;
        }
        auto root = Layer::create(loop);
        root->setFrame({0, 0, 3840, 2160});
        auto video = Layer::create(loop);
        video->setFrame(root->frame());
        video->setFrameSource(std::make_shared<DecodedPlayerLayer>(player));
        root->addSublayer(video);
        SnapshotPublisher publisher(loop);
        publisher.setRoot(root);
        std::vector<std::unique_ptr<Presenter>> views;
        for (const QSize size : {QSize(3840, 2160), QSize(547, 308)}) {
            views.push_back(std::make_unique<Presenter>(loop.hostClock()));
            views.back()->setSource(publisher.slot());
            views.back()->setSize(size);
            views.back()->setRefreshRate(30000.0 / 1001.0);
            views.back()->start();
        }
        player->play();
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        double played = 0.0;
        while (played < 5.0) {
            loop.waitForPosted(1.0 / 240.0);
            const double now = std::chrono::duration<double>(Clock::now() - start).count();
            loop.advance(now - played);  // the presenters' clock too
            played = now;
        }
        state.counters["MB"] = (residentBytes() - before) / 1e6;
        for (auto& view : views) {
            view->stop();
        }
        player->pause();
    }
}
BENCHMARK(BM_PlayingWithTwoViewsMemory)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Decoding and converting 2160p29.97 as the item's decoder does, with the thread count it
// chooses. realtime > 1: faster than the clip plays.
void BM_PlaybackDecode(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    std::int64_t frames = 0;
    int threads = 0;
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto decoder = VideoDecoder::open(
            path, std::make_shared<ffmpeg::IoControl>(),
            {.findStreamInfo = false, .threads = VideoDecoder::kPlaybackThreads});
        if (!decoder) {
            state.SkipWithError(decoder.error().c_str());
            return;
        }
        threads = (*decoder)->threadCount();
        auto frame = ffmpeg::makeFrame();
        while ((*decoder)->decodeNext(frame.get()) == VideoDecoder::Step::Frame) {
            benchmark::DoNotOptimize((*decoder)->toImage(*frame, true));
            av_frame_unref(frame.get());
            ++frames;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    state.counters["realtime"] = static_cast<double>(frames) / seconds / kRate;
    state.counters["threads"] = threads;
}
BENCHMARK(BM_PlaybackDecode)
    ->Arg(2160)
    ->Arg(1080)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace
