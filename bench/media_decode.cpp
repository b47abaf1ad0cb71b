// Decoding speed of the media platform beside the ffmpeg command on the same clips:
// throughput for 1080p and 2160p H.264 (High profile, 20 and 80 Mb/s, film grain) and 2160p
// ProRes 422 HQ, time from opening a file to its first picture, and time to a picture in the
// middle of a GOP.
//
// Like is compared with like: our decode and conversion to pictures with the playback thread
// count, beside `ffmpeg -threads <the same count> -i clip -pix_fmt bgra -f null -`, whose
// process start is measured apart (BM_FfmpegStart) and whose CPU time (all threads, from the
// child's resource usage) is reported as cpu_s per run. Our CPU time is that of all threads of
// this process.
//
// Run: cmake -DKESTIO_BUILD_BENCH=ON ...; build bench_media_decode; run it with
// --benchmark_out=media_decode.json. The clips are made with the ffmpeg command into the
// fixture folder the first time. Thread counts follow the process's CPU affinity: run it under
// `taskset -c 0-3` and `taskset -c 0,1` to compare on 4 and 2 cores.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "media_bench.h"
#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_item.h"
#include "platform/media/decoded_queue_player.h"
#include "platform/media/video_decoder.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/process_runner.h"

namespace {

using namespace kestio::platform;
using namespace kestio::platform::media;
namespace fs = std::filesystem;
using kestio::bench::grainClip;
using kestio::bench::proresClip;
using kestio::bench::runUntil;

constexpr int kFrames = 100;  // 4 s at 25 fps, a key frame every 2 s

// The benchmarks' argument: an H.264 clip's height, or kProRes (2 s, 190 MB).
constexpr int kProRes = -2160;
constexpr int kProResFrames = 50;

int frameCount(int clipArg) {
    return clipArg == kProRes ? kProResFrames : kFrames;
}

const fs::path& clip(int height) {
    if (height == kProRes) {
        return proresClip(kProResFrames);
    }
    return grainClip({.height = height,
                      .frameRate = "25",
                      .rateName = "",
                      .frames = kFrames,
                      .keyFrameInterval = 50});
}

// CPU seconds used by the waited-for children of this process so far.
double childCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The thread count playback chooses for the clip.
int playbackThreads(const fs::path& path) {
    auto decoder = VideoDecoder::open(path, std::make_shared<ffmpeg::IoControl>(),
                                      {.threads = VideoDecoder::kPlaybackThreads});
    return decoder ? (*decoder)->threadCount() : 1;
}

// What a playing item's decode thread does per picture: decode, convert to the picture format.
void BM_DecodeToPictures(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    std::int64_t frames = 0;
    for (auto _ : state) {
        auto decoder = VideoDecoder::open(path, std::make_shared<ffmpeg::IoControl>(),
                                          {.threads = VideoDecoder::kPlaybackThreads});
        if (!decoder) {
            state.SkipWithError(decoder.error().c_str());
            return;
        }
        auto frame = ffmpeg::makeFrame();
        while ((*decoder)->decodeNext(frame.get()) == VideoDecoder::Step::Frame) {
            benchmark::DoNotOptimize((*decoder)->toImage(*frame, true));
            av_frame_unref(frame.get());
            ++frames;
        }
    }
    state.SetItemsProcessed(frames);
    state.counters["threads"] = playbackThreads(path);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeToPictures)
    ->Arg(1080)
    ->Arg(2160)
    ->Arg(kProRes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// Decoding alone, without the conversion to pictures.
void BM_DecodeOnly(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    std::int64_t frames = 0;
    for (auto _ : state) {
        auto decoder = VideoDecoder::open(path, std::make_shared<ffmpeg::IoControl>(),
                                          {.threads = VideoDecoder::kPlaybackThreads});
        if (!decoder) {
            state.SkipWithError(decoder.error().c_str());
            return;
        }
        auto frame = ffmpeg::makeFrame();
        while ((*decoder)->decodeNext(frame.get()) == VideoDecoder::Step::Frame) {
            av_frame_unref(frame.get());
            ++frames;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeOnly)
    ->Arg(1080)
    ->Arg(2160)
    ->Arg(kProRes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// Runs the ffmpeg command once per iteration; cpu_s: the child's CPU seconds per run.
void runCommand(benchmark::State& state, const std::vector<std::string>& argv, int frames) {
    std::int64_t total = 0;
    const double cpuBefore = childCpuSeconds();
    for (auto _ : state) {
        const auto result = kestio::test::runProcess(argv, std::chrono::minutes(2));
        if (!result.succeeded()) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        total += frames;
    }
    state.counters["cpu_s"] =
        (childCpuSeconds() - cpuBefore) / std::max<double>(1, state.iterations());
    if (frames > 0) {
        state.counters["fps"] =
            benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
    }
}

// The reference: the ffmpeg command decoding and converting to the same picture format with
// the same thread count (its process start included; see BM_FfmpegStart).
void BM_FfmpegCommand(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    runCommand(
        state,
        {"ffmpeg", "-nostdin", "-v", "error", "-threads", std::to_string(playbackThreads(path)),
         "-i", path.string(), "-pix_fmt", "bgra", "-f", "null", "-"},
        frameCount(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_FfmpegCommand)
    ->Arg(1080)
    ->Arg(2160)
    ->Arg(kProRes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Starting the ffmpeg command and opening the clip without decoding a picture: subtract from
// BM_FfmpegCommand to compare decoding alone.
void BM_FfmpegStart(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    runCommand(state,
               {"ffmpeg", "-nostdin", "-v", "error", "-i", path.string(), "-frames:v", "0", "-f",
                "null", "-"},
               0);
}
BENCHMARK(BM_FfmpegStart)
    ->Arg(1080)
    ->Arg(2160)
    ->Arg(kProRes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// From making the item to its status "ready to play" (its first picture decoded).
void BM_OpenToFirstPicture(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    ManualRunLoop loop;
    for (auto _ : state) {
        auto player = DecodedQueuePlayer::make(loop);
        auto item = DecodedPlayerItem::make(DecodedAsset::make(loop, path));
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
    ->Arg(kProRes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A zero-tolerance seek to 1 s, half way between the key frames at 0 and 2 s, until the
// picture there is decoded.
void BM_PictureInTheMiddleOfAGop(benchmark::State& state) {
    const fs::path& path = clip(static_cast<int>(state.range(0)));
    ManualRunLoop loop;
    auto player = DecodedQueuePlayer::make(loop);
    auto item = DecodedPlayerItem::make(DecodedAsset::make(loop, path));
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
