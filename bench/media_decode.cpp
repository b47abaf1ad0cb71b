// Decoding speed of the media platform beside the ffmpeg command on the same clips:
// throughput for 1080p and 2160p H.264 (High profile, 20 and 80 Mb/s, film grain), time from
// opening a file to its first picture, and time to a picture in the middle of a GOP.
//
// Run: cmake -DKESTIO_BUILD_BENCH=ON ...; build bench_media_decode; run it. The clips are made
// with the ffmpeg command into the fixture folder the first time.

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/media/asset.h"
#include "platform/media/player_item.h"
#include "platform/media/queue_player.h"
#include "platform/media/video_decoder.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/process_runner.h"

namespace {

using namespace kestio::platform;
using namespace kestio::platform::media;
namespace fs = std::filesystem;

constexpr int kFrames = 100;  // 4 s at 25 fps, a key frame every 2 s

const fs::path& clip(int height) {
    static std::map<int, fs::path> made;
    if (auto found = made.find(height); found != made.end()) {
        return found->second;
    }
    const fs::path folder = fs::path(KESTIO_FIXTURE_DIR) / "bench-media";
    fs::create_directories(folder);
    const fs::path path = folder / ("grain_" + std::to_string(height) + "p.mp4");
    if (!fs::exists(path)) {
        const int width = height * 16 / 9;
        const std::string rate = height > 1080 ? "80M" : "20M";
        const fs::path partial = folder / ("partial_" + std::to_string(height) + ".mp4");
        const std::vector<std::string> argv = {
            "ffmpeg",
            "-nostdin",
            "-y",
            "-loglevel",
            "error",
            "-f",
            "lavfi",
            "-i",
            "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
                ":rate=25:duration=" + std::to_string(kFrames / 25),
            "-vf",
            "noise=alls=6:allf=t",
            "-c:v",
            "libx264",
            "-preset",
            "veryfast",
            "-profile:v",
            "high",
            "-b:v",
            rate,
            "-maxrate",
            rate,
            "-bufsize",
            rate,
            "-g",
            "50",
            "-pix_fmt",
            "yuv420p",
            partial.string()};
        const auto result = kestio::test::runProcess(argv, std::chrono::minutes(5));
        if (!result.succeeded()) {
            throw std::runtime_error(kestio::test::describeFailure(argv, result));
        }
        fs::rename(partial, path);
    }
    return made[height] = path;
}

bool runUntil(ManualRunLoop& loop, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    loop.runPending();
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        loop.waitForPosted(1.0);
    }
    return true;
}

// What a playing item's decode thread does per picture: decode, convert to the picture format.
void BM_DecodeToPictures(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    std::int64_t frames = 0;
    for (auto _ : state) {
        auto decoder = VideoDecoder::open(path, std::make_shared<IoControl>(), {});
        if (!decoder) {
            state.SkipWithError(decoder.error().c_str());
            return;
        }
        auto frame = ff::makeFrame();
        while ((*decoder)->decodeNext(frame.get()) == VideoDecoder::Step::Frame) {
            benchmark::DoNotOptimize((*decoder)->toImage(*frame, true));
            av_frame_unref(frame.get());
            ++frames;
        }
    }
    state.SetItemsProcessed(frames);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeToPictures)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond)->UseRealTime();

// Decoding alone, without the conversion to pictures.
void BM_DecodeOnly(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    std::int64_t frames = 0;
    for (auto _ : state) {
        auto decoder = VideoDecoder::open(path, std::make_shared<IoControl>(), {});
        if (!decoder) {
            state.SkipWithError(decoder.error().c_str());
            return;
        }
        auto frame = ff::makeFrame();
        while ((*decoder)->decodeNext(frame.get()) == VideoDecoder::Step::Frame) {
            av_frame_unref(frame.get());
            ++frames;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeOnly)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: `ffmpeg -i clip -f null -` (includes starting the process).
void BM_FfmpegCommand(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    const std::vector<std::string> argv = {"ffmpeg",      "-nostdin", "-v",   "error", "-i",
                                           path.string(), "-f",       "null", "-"};
    std::int64_t frames = 0;
    for (auto _ : state) {
        const auto result = kestio::test::runProcess(argv, std::chrono::minutes(2));
        if (!result.succeeded()) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        frames += kFrames;
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FfmpegCommand)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond)->UseRealTime();

// From making the item to its status "ready to play" (its first picture decoded).
void BM_OpenToFirstPicture(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    ManualRunLoop loop;
    for (auto _ : state) {
        auto player = QueuePlayer::make(loop);
        auto item = PlayerItem::make(Asset::make(loop, path));
        player->insert(item);
        if (!runUntil(loop, [&] { return item->statusValue() != ItemStatus::Unknown; }) ||
            item->statusValue() != ItemStatus::ReadyToPlay) {
            state.SkipWithError("the item did not become ready");
            return;
        }
        state.PauseTiming();
        player.reset();
        item.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenToFirstPicture)
    ->Arg(1080)
    ->Arg(2160)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A zero-tolerance seek to 1 s, half way between the key frames at 0 and 2 s, until the
// picture there is decoded.
void BM_PictureInTheMiddleOfAGop(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    ManualRunLoop loop;
    auto player = QueuePlayer::make(loop);
    auto item = PlayerItem::make(Asset::make(loop, path));
    player->insert(item);
    if (!runUntil(loop, [&] { return item->statusValue() != ItemStatus::Unknown; })) {
        state.SkipWithError("the item did not become ready");
        return;
    }
    bool odd = false;
    for (auto _ : state) {
        std::optional<bool> finished;
        // Alternate between two targets so that no picture is already queued.
        player->seek(odd ? 1.0 : 1.04, 0.0, 0.0, [&](bool f) { finished = f; });
        odd = !odd;
        if (!runUntil(loop, [&] { return finished.has_value(); }) || !*finished) {
            state.SkipWithError("the seek did not land");
            return;
        }
    }
}
BENCHMARK(BM_PictureInTheMiddleOfAGop)
    ->Arg(1080)
    ->Arg(2160)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
