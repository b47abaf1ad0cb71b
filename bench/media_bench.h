#pragma once

// What the media benchmarks share: the clips they decode, and a wait on a ManualRunLoop fed by
// decode threads.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/runloop/host_clock.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/null_audio_device.h"
#include "support/process_runner.h"

namespace kestio::bench {

// H.264 High profile with film grain (so nothing compresses away), 20 Mb/s up to 1080p and
// 80 Mb/s above, 16:9.
struct GrainClip {
    int height = 1080;
    // As ffmpeg takes a frame rate ("25", "30000/1001"), and as the file name shows it ("",
    // "29.97").
    std::string frameRate = "25";
    std::string rateName;
    int frames = 100;
    // Pictures from one key frame to the next.
    int keyFrameInterval = 50;
    // A stereo AAC tone beside the pictures, as long as they are.
    bool sound = false;
    // Each picture's index in the frame-number strip along its top (drawn over the grain).
    bool frameNumbers = false;
};

// Runs the ffmpeg command `argv`, which writes `partial`, and moves the result to `path`, so an
// interrupted run never leaves a half-made clip under the clip's name (throws when ffmpeg fails).
inline void makeWithFfmpeg(const std::vector<std::string>& argv,
                           const std::filesystem::path& partial, const std::filesystem::path& path,
                           std::chrono::minutes limit) {
    const auto result = kestio::test::runProcess(argv, limit);
    if (!result.succeeded()) {
        throw std::runtime_error(kestio::test::describeFailure(argv, result));
    }
    std::filesystem::rename(partial, path);
}

// The clip `fileName` in the benchmarks' media folder under the fixture folder, made the first
// time within `limit` by ffmpeg from the generated pictures `pictures` (a lavfi graph), with the
// further arguments `arguments(partial)`, which end by writing `partial`; remembered for the rest
// of the run (throws when ffmpeg fails).
inline const std::filesystem::path& benchClip(
    const std::string& fileName, std::chrono::minutes limit, const std::string& pictures,
    const std::function<std::vector<std::string>(const std::filesystem::path& partial)>&
        arguments) {
    namespace fs = std::filesystem;
    static std::map<std::string, fs::path> made;
    if (auto found = made.find(fileName); found != made.end()) {
        return found->second;
    }
    const fs::path folder = fs::path(KESTIO_FIXTURE_DIR) / "bench-media";
    fs::create_directories(folder);
    const fs::path path = folder / fileName;
    if (!fs::exists(path)) {
        const fs::path partial = folder / ("partial_" + fileName);
        std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-y", "-loglevel", "error",
                                         "-f",     "lavfi",    "-i", pictures};
        const auto more = arguments(partial);
        argv.insert(argv.end(), more.begin(), more.end());
        makeWithFfmpeg(argv, partial, path, limit);
    }
    return made[fileName] = path;
}

// The clip's path in the fixture folder, made first with the ffmpeg command if it is not there
// yet (throws when ffmpeg fails).
inline const std::filesystem::path& grainClip(const GrainClip& clip) {
    const std::string name = std::to_string(clip.height) + "p" + clip.rateName +
                             (clip.sound ? "_sound" : "") + (clip.frameNumbers ? "_numbered" : "") +
                             ".mp4";
    const int width = clip.height * 16 / 9;
    const std::string pictures = "testsrc2=size=" + std::to_string(width) + "x" +
                                 std::to_string(clip.height) + ":rate=" + clip.frameRate;
    return benchClip(
        "grain_" + name, std::chrono::minutes(5), pictures,
        [&clip](const std::filesystem::path& partial) {
            const std::string rate = clip.height > 1080 ? "80M" : "20M";
            std::vector<std::string> argv;
            if (clip.sound) {
                // As long as the pictures: frames / rate seconds, the rate as ffmpeg
                // takes it.
                const auto slash = clip.frameRate.find('/');
                const double fps = slash == std::string::npos
                                       ? std::stod(clip.frameRate)
                                       : std::stod(clip.frameRate.substr(0, slash)) /
                                             std::stod(clip.frameRate.substr(slash + 1));
                argv = {
                    "-f",
                    "lavfi",
                    "-i",
                    "sine=frequency=440:sample_rate=48000:duration=" + std::to_string(clip.frames / fps),
                    "-ac",
                    "2",
                    "-c:a",
                    "aac",
                    "-b:a",
                    "192k"};
            }
            argv.insert(argv.end(), {"-frames:v",
                                     std::to_string(clip.frames),
                                     "-vf",
                                     "noise=alls=6:allf=t" +
                                         (clip.frameNumbers
                                              ? "," + kestio::test::FrameNumberStrip::ffmpegFilter()
                                              : std::string()),
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
                                     std::to_string(clip.keyFrameInterval),
                                     "-pix_fmt",
                                     "yuv420p",
                                     partial.string()});
            return argv;
        });
}

// ProRes 422 HQ at 2160p, 25 fps, of noisy test pictures, `frames` long: an intra-only clip as
// editing systems hand over for playback. Made with the ffmpeg command into the fixture folder
// the first time (throws when ffmpeg fails).
inline const std::filesystem::path& proresClip(int frames) {
    const std::string name = "prores_hq_2160p_" + std::to_string(frames) + ".mov";
    return benchClip(name, std::chrono::minutes(10), "testsrc2=size=3840x2160:rate=25",
                     [frames](const std::filesystem::path& partial) {
                         return std::vector<std::string>{"-frames:v",     std::to_string(frames),
                                                         "-vf",           "noise=alls=6:allf=t",
                                                         "-c:v",          "prores_ks",
                                                         "-profile:v",    "3",
                                                         "-pix_fmt",      "yuv422p10le",
                                                         partial.string()};
                     });
}

// Runs posted work until `done` holds; false after 60 s.
inline bool runUntil(platform::ManualRunLoop& loop, const std::function<bool()>& done) {
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

// The steady clock's time, in seconds.
inline double steadyNow() {
    return platform::SteadyHostClock().now().seconds();
}

// Drives a run loop and a null device at the real pace: the loop's clock follows the steady
// clock and the device renders the sound up to it, as a sound card would.
struct SteadyPace {
    SteadyPace(platform::ManualRunLoop& loop, kestio::test::NullAudioDevice& device)
        : loop(loop), device(device), started(loop.now().seconds()) {}
    // Takes posted work, moves the run loop up to the steady clock and renders the sound up to
    // there, for `seconds`.
    void follow(double seconds) {
        const double until = steadyNow() + seconds;
        do {
            loop.waitForPosted(1.0 / 480.0);
            loop.advance(std::max(0.0, steadyNow() - loop.now().seconds()));
            const auto due = std::uint64_t((loop.now().seconds() - started) * 48000.0);
            if (due > pulled) {
                device.pull(std::uint32_t(due - pulled));
                device.clearCaptured();
                pulled = due;
            }
        } while (steadyNow() < until);
    }

    platform::ManualRunLoop& loop;
    kestio::test::NullAudioDevice& device;
    const double started;
    std::uint64_t pulled = 0;
};

}  // namespace kestio::bench
