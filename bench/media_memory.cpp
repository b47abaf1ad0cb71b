// Memory of items in a player at 2160p and 1080p H.264 29.97, beside the ffmpeg command doing
// the same work in the same run: a ready item (paused at its first picture), one item playing,
// a 2 s range looping, two items playing with a third preloaded; also the item's decoder alone,
// two views of a playing clip, and the rate at which the item's decoder decodes and converts.
//
// Each case reports what it adds to the resident memory of the process: peak_MB at its most
// (the high-water mark, reset when the case starts) and MB in the state the case measures; peer_MB,
// the growth of the peak resident memory of the ffmpeg command over its start-up (decoding to BGRA
// pictures, as we do, and dropping them: `ffmpeg [-re] <inputs> -pix_fmt bgra -f null -`); and
// ratio, peak_MB over peer_MB.
//
// Run on four cores, as the target machine, one case per process (the allocator keeps some of
// what a process has used), e.g. with bench/media_memory_table.py, which runs every case so and
// prints the table; or: taskset -c 0-3 bench/bench_media_memory
//   --benchmark_filter=BM_OnePlayingItem/2160 --benchmark_out=one_playing_2160.json
// The clips are made with the ffmpeg command into the fixture folder the first time.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
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

// What the ffmpeg command adds to its peak resident memory decoding `inputs` (input options
// and -i arguments) to BGRA pictures, over what it holds decoding a tiny picture; 0 when it
// failed.
double peerGrowthBytes(const std::vector<std::string>& inputs) {
    const auto run = [](const std::vector<std::string>& in) {
        std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error"};
        argv.insert(argv.end(), in.begin(), in.end());
        argv.insert(argv.end(), {"-pix_fmt", "bgra", "-f", "null", "-"});
        return kestio::bench::childPeakBytes(argv);
    };
    static const double start = run({"-f", "lavfi", "-i", "nullsrc=s=64x64:d=0.1"});
    const double peak = run(inputs);
    return start > 0.0 && peak > 0.0 ? peak - start : 0.0;
}

// Runs one case: the ffmpeg command first (so that nothing of ours runs beside it), then `body`,
// which calls its argument once the case is in the state measured (before tearing it down) and
// returns false when the case could not run. Reports the counters described at the top.
void measure(benchmark::State& state, const std::vector<std::string>& peerInputs,
             const std::function<bool(const std::function<void()>&)>& body) {
    const double peer = peerGrowthBytes(peerInputs);
    malloc_trim(0);
    const double before = residentBytes();
    kestio::bench::resetPeakResident();
    const auto record = [&] { state.counters["MB"] = (residentBytes() - before) / 1e6; };
    if (!body(record)) {
        return;
    }
    const double peak = kestio::bench::peakResidentBytes() - before;
    state.counters["peak_MB"] = peak / 1e6;
    state.counters["peer_MB"] = peer / 1e6;
    state.counters["ratio"] = peer > 0.0 ? peak / peer : 0.0;
}

// One item's decoder alone, opened, its queue full and its read-ahead done (no event for half a
// second): the part of an item's memory that its decoding holds.
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
        if (!runUntil(loop, [&] { return opened || failed; }) || failed || !runUntil(loop, [&] {
                return decoder->buffer().enoughToPlay || decoder->buffer().ended;
            })) {
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

// Waits until every item is ready and likely to keep up (its queue full), then for the run loop
// to be quiet for half a second.
bool waitUntilReady(ManualRunLoop& loop,
                    const std::vector<std::shared_ptr<DecodedPlayerItem>>& items) {
    const bool ready = runUntil(loop, [&] {
        return std::all_of(items.begin(), items.end(), [](const auto& item) {
            return item->statusValue() == ItemStatus::Failed ||
                   (item->statusValue() == ItemStatus::ReadyToPlay && item->likelyToKeepUp());
        });
    });
    if (!ready || std::any_of(items.begin(), items.end(), [](const auto& item) {
            return item->statusValue() == ItemStatus::Failed;
        })) {
        return false;
    }
    while (loop.waitForPosted(0.5)) {
    }
    return true;
}

// A ready item in a player, paused at its first picture, its read-ahead done. Peer: the ffmpeg
// command decoding the first picture.
void BM_ReadyItemInPlayer(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        measure(state, {"-i", path.string(), "-frames:v", "1"},
                [&](const std::function<void()>& record) {
                    ManualRunLoop loop;
                    auto player = DecodedQueuePlayer::make(loop);
                    auto item = itemFor(loop, path);
                    player->insert(item);
                    if (!waitUntilReady(loop, {item})) {
                        state.SkipWithError("the item did not become ready");
                        return false;
                    }
                    record();
                    return true;
                });
    }
}
BENCHMARK(BM_ReadyItemInPlayer)->Arg(2160)->Arg(1080)->Iterations(1)->Unit(benchmark::kMillisecond);

// One item playing for 4.5 s of its 5. Peer: the ffmpeg command decoding the clip at its rate.
void BM_OnePlayingItem(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        measure(state, {"-re", "-i", path.string()}, [&](const std::function<void()>& record) {
            ManualRunLoop loop;
            auto player = DecodedQueuePlayer::make(loop);
            auto item = itemFor(loop, path);
            player->insert(item);
            if (!waitUntilReady(loop, {item})) {
                state.SkipWithError("the item did not become ready");
                return false;
            }
            player->play();
            playFor(loop, 4.5);
            record();
            player->pause();
            return true;
        });
    }
}
BENCHMARK(BM_OnePlayingItem)->Arg(2160)->Arg(1080)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 2 s range of a clip looping for 5 s (two seams). Peer: the ffmpeg command decoding one pass
// of the range at its rate (what a looper that holds one decoder holds).
void BM_LoopingRange(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        measure(state, {"-re", "-ss", "1", "-t", "2", "-i", path.string()},
                [&](const std::function<void()>& record) {
                    ManualRunLoop loop;
                    auto player = DecodedQueuePlayer::make(loop);
                    DecodedPlayerLooper looper(player, itemFor(loop, path),
                                               TimeRange::fromTo(1.0, 3.0));
                    if (!runUntil(loop,
                                  [&] { return looper.statusValue() != LooperStatus::Unknown; }) ||
                        looper.statusValue() != LooperStatus::Ready) {
                        state.SkipWithError("the looper did not become ready");
                        return false;
                    }
                    player->play();
                    playFor(loop, 5.0);
                    record();
                    state.counters["passes"] = looper.loopCount();
                    player->pause();
                    return true;
                });
    }
}
BENCHMARK(BM_LoopingRange)->Arg(2160)->Arg(1080)->Iterations(1)->Unit(benchmark::kMillisecond);

// Two clips playing (the A and B slots during a dissolve) and a third preloaded, paused at its
// start, for 3 s. Peer: the ffmpeg command decoding two clips at their rate.
void BM_TwoPlayingOnePreloaded(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        measure(
            state,
            {"-re", "-i", path.string(), "-re", "-i", path.string(), "-map", "0:v", "-map", "1:v"},
            [&](const std::function<void()>& record) {
                ManualRunLoop loop;
                std::vector<std::shared_ptr<DecodedQueuePlayer>> players;
                std::vector<std::shared_ptr<DecodedPlayerItem>> items;
                for (int n = 0; n < 3; ++n) {
                    players.push_back(DecodedQueuePlayer::make(loop));
                    items.push_back(itemFor(loop, path));
                    players.back()->insert(items.back());
                }
                if (!waitUntilReady(loop, items)) {
                    state.SkipWithError("the items did not become ready");
                    return false;
                }
                players[0]->play();
                players[1]->play();
                playFor(loop, 3.0);
                record();
                for (auto& player : players) {
                    player->pause();
                }
                return true;
            });
    }
}
BENCHMARK(BM_TwoPlayingOnePreloaded)
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
            // As the program's colour correction: pictures kept as decoded are converted and
            // corrected in one pass.
            player->setFrameFilter(std::make_shared<const FrameFilter>(
                [lut](const QImage& picture) { return lut->apply(picture); },
                [lut](const YuvPicture& picture) { return lut->apply(picture); }));
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
