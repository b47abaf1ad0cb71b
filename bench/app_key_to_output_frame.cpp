// Key press to the cue's first frame in the output window, on the real kestio program on an Xvfb
// with two X screens, the private sound and JACK servers, at three sizes of picture: 320×180,
// 1080p and 2160p (the benchmark's argument is the height). At each size the show holds, on key
// "1", a looping 59.94 clip whose frames carry their number in a strip of blocks; on key "3" the
// same clip as a plain cue (it freezes at its end); on key "4" a still of that size with the
// strip; and on key "2" a small still without one. The show's clips are warmed up, and the output
// window is switched on from the Output Monitor panel and covers the second screen.
// BM_KeyPressToCueSound times an audio-only cue's sound instead, recorded from the sound
// server's sink.
//
// On key "7" the numbered clip again, preloaded: key "6" plays a clip without numbers whose
// post-roll goes on to it, and the press of "7" comes half a second later.
//
// Each press: "2" (or "6") and wait until the output shows no frame number, then "1", "3", "4" or
// "7" (xdotool, XTEST); each iteration fires every kind, so they meet the same load, and their
// figures are given in milliseconds and output periods. The start is the X server's time stamp
// of the key press, as the program's main window gets it (this benchmark asks the server for
// the window's key presses too). The end is the first grab of the output picture's strip row
// that reads as a frame of the cue: the frame reached the screen before that grab's answer and
// after the previous grab's request, so the figure is at most grab_gap_ms too late, and the
// server's millisecond stamps add up to 1 ms more.
// Goal, for every kind of cue at every size: within one period at the median and two at worst
// (100 presses of each; KESTIO_BENCH_ITERATIONS sets another count).
#include <benchmark/benchmark.h>

#include <array>
#include <thread>
#include <variant>

#include "numbered_cues.h"
#include "output_show.h"
#include "platform/audio/timed_recording.h"

namespace {

using namespace kestio;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The cue kinds fired, by their key; `after` is pressed first instead of the blank still (and
// given time to preload the cue that follows it).
struct Kind {
    const char* key;
    const char* name;
    const char* after = "2";
};
constexpr std::array<Kind, 4> kKinds{Kind{"1", "loop"}, Kind{"3", "plain"}, Kind{"4", "still"},
                                     Kind{"7", "preloaded", "6"}};

// A still without the strip, fired between two presses so that the next cue replaces it.
const test::MediaFile& blankStill() {
    return test::mediaFixtures().still("png");
}

// The show at `height`: slots 1 and 3 the numbered clip (loop and plain), 2 the blank still,
// 4 the numbered still, 6 a clip without numbers whose post-roll goes on to slot 7, the
// numbered clip again, which is preloaded while slot 6 plays.
fs::path writeShow(bench::AppSession& session, int height) {
    const test::MediaFile clip = height <= 180 ? test::mediaFixtures().rateClip({60000, 1001})
                                               : bench::numberedClip(height, 120);
    const test::MediaFile still = bench::numberedStill(height);
    return session.writeShow("Keys.ktshow", 0, [&](ProjectData& project) {
        auto& slots = project.banks[0].slots;
        session.fillSlot(slots[0], clip, "Loop", 0);
        session.fillSlot(slots[1], blankStill(), "Blank", 1);
        session.fillSlot(slots[2], clip, "Plain", 2);
        slots[2].postRollMode = PostRollMode::freeze;
        session.fillSlot(slots[3], still, "Still", 3);
        slots[3].postRollMode = PostRollMode::freeze;
        session.fillSlot(slots[5], bench::plainClip(std::clamp(height, 360, 1080), 600), "Lead", 5);
        slots[5].postRollMode = PostRollMode::next;
        session.fillSlot(slots[6], clip, "Next", 6);
        slots[6].postRollMode = PostRollMode::freeze;
    });
}

// Presses `key` after the blank still has replaced what was on air, and waits until `shown`
// says the cue is out; its latency in milliseconds from the server's stamp of the key press,
// or a failure to report. `shown` gives the instant the cue was found out, or nothing yet.
using Shown = std::function<std::optional<bench::SteadyClock::time_point>()>;
std::variant<double, std::string> pressAndWait(bench::OutputShow& show, const char* key,
                                               const std::function<bool()>& cleared,
                                               const Shown& shown, const char* before = "2") {
    if (!show.desktop.xdotool({"key", before}) || !test::pollUntil(cleared)) {
        return std::string("the cue before never replaced the one on air");
    }
    // A cue is fired well after the one before it: the output settles first (and the cue
    // that follows one with a successor is preloaded).
    std::this_thread::sleep_for(std::string(before) == "2" ? 150ms : 500ms);
    show.x.take();
    const auto launched = bench::SteadyClock::now();
    if (!show.desktop.xdotool({"key", key})) {
        return std::string("xdotool failed");
    }
    std::optional<bench::SteadyClock::time_point> pressed;
    const auto guard = launched + 10s;
    for (;;) {
        if (!pressed) {
            const auto times = show.x.take().keyTimes;
            if (!times.empty()) {
                pressed = bench::serverTimeToSteady(times.front());
            }
        }
        if (const auto out = shown()) {
            if (!pressed) {
                const auto times = show.x.take().keyTimes;
                if (times.empty()) {
                    return std::string("the key press never reached the main window");
                }
                pressed = bench::serverTimeToSteady(times.front());
            }
            // The server's stamp has to fall between the tool's start and the end: else its
            // clock is not this one and the figure would mean nothing.
            if (*pressed < launched - 2ms || *pressed > *out) {
                return std::string("the X server's time stamps are not on the steady clock");
            }
            return bench::millisecondsBetween(*pressed, *out);
        }
        if (bench::SteadyClock::now() > guard) {
            return std::string("the cue never came out after key ") + key;
        }
        std::this_thread::sleep_for(100us);
    }
}

void setFigures(benchmark::State& state, const std::string& kind,
                const std::vector<double>& latencies) {
    state.counters[kind + "_median_ms"] = bench::median(latencies);
    state.counters[kind + "_worst_ms"] = bench::worst(latencies);
    state.counters[kind + "_median_periods"] = bench::median(latencies) / bench::kPeriodMs;
    state.counters[kind + "_worst_periods"] = bench::worst(latencies) / bench::kPeriodMs;
}

void BM_KeyPressToOutputFrame(benchmark::State& state) {
    const int height = int(state.range(0));
    bench::TwoScreenDesktop desktop;
    bench::AppSession session;
    if (bench::skipped(state, desktop.failure()) || bench::skipped(state, session.failure())) {
        return;
    }
    const auto package = writeShow(session, height);
    bench::XScreenWatch x(desktop.display());
    if (!x.connected()) {
        state.SkipWithError("no connection to the X server");
        return;
    }
    bench::OutputShow show{desktop, x};
    if (const std::string failure = show.open(package); !failure.empty()) {
        state.SkipWithError(show.keepEvidence(failure, package).c_str());
        return;
    }
    x.watchKeys(show.mainWindow);

    std::vector<double> gaps;
    std::array<std::vector<double>, kKinds.size()> latencies;
    const auto cleared = [&] { return show.shownFrame() < 0; };
    for (auto _ : state) {
        double total = 0.0;
        for (std::size_t k = 0; k < kKinds.size(); ++k) {
            // The request of the grab before, from the first grab after the press on.
            std::optional<bench::SteadyClock::time_point> previousAsk;
            const auto result = pressAndWait(
                show, kKinds[k].key, cleared,
                [&] {
                    if (!previousAsk) {
                        previousAsk = bench::SteadyClock::now();
                    }
                    const auto grab = show.grabStrip();
                    if (!grab.image.isNull() && test::readFrameNumberOfRow(grab.image) >= 0) {
                        gaps.push_back(bench::millisecondsBetween(*previousAsk, grab.answered));
                        return std::optional(grab.answered);
                    }
                    previousAsk = grab.asked;
                    return std::optional<bench::SteadyClock::time_point>();
                },
                kKinds[k].after);
            if (const auto* failure = std::get_if<std::string>(&result)) {
                state.SkipWithError(show.keepEvidence(*failure, package).c_str());
                return;
            }
            latencies[k].push_back(std::get<double>(result));
            total += std::get<double>(result);
        }
        state.SetIterationTime(total / double(kKinds.size()) / 1e3);
    }
    for (std::size_t k = 0; k < kKinds.size(); ++k) {
        setFigures(state, kKinds[k].name, latencies[k]);
    }
    // The play log, with the program's own timings of each step, where one was asked for.
    if (const char* keep = std::getenv("KESTIO_BENCH_KEEP_LOG")) {
        std::ofstream(keep) << bench::readWholeFile(package / "app.log");
    }
    state.counters["grab_gap_median_ms"] = bench::median(gaps);
    state.counters["grab_gap_worst_ms"] = bench::worst(gaps);
}

// An audio-only cue (key "5", a plain cue of the tone) between presses of the blank still, its
// end the host time at which the sink played its first loud sample, as the sink's monitor
// recording places it.
void BM_KeyPressToCueSound(benchmark::State& state) {
    bench::TwoScreenDesktop desktop;
    bench::AppSession session;
    if (bench::skipped(state, desktop.failure()) || bench::skipped(state, session.failure())) {
        return;
    }
    const test::MediaFile clip = test::mediaFixtures().rateClip({60000, 1001});
    const test::MediaFile& tone = test::mediaFixtures().audio("wav");
    const auto package = session.writeShow("Sound.ktshow", 0, [&](ProjectData& project) {
        auto& slots = project.banks[0].slots;
        session.fillSlot(slots[0], clip, "Loop", 0);
        session.fillSlot(slots[1], blankStill(), "Blank", 1);
        session.fillSlot(slots[4], tone, "Tone", 4);
        slots[4].mediaType = MediaType::audio;
        slots[4].postRollMode = PostRollMode::freeze;
    });
    bench::XScreenWatch x(desktop.display());
    if (!x.connected()) {
        state.SkipWithError("no connection to the X server");
        return;
    }
    bench::OutputShow show{desktop, x};
    if (const std::string failure = show.open(package); !failure.empty()) {
        state.SkipWithError(show.keepEvidence(failure, package).c_str());
        return;
    }
    x.watchKeys(show.mainWindow);
    test::TimedRecording recording("null.monitor");
    if (!recording.failure().empty()) {
        state.SkipWithError(recording.failure().c_str());
        return;
    }
    constexpr float kLoud = 0.02f;
    const auto loudFrom = [&](std::size_t from) -> std::optional<std::size_t> {
        const auto left = recording.left();
        for (std::size_t i = from; i < left.size(); ++i) {
            if (std::abs(left[i]) > kLoud) {
                return i;
            }
        }
        return std::nullopt;
    };
    // Cleared: the last 100 ms recorded are quiet.
    const auto quiet = [&] {
        const std::size_t frames = recording.frames();
        return frames > 4800 && !loudFrom(frames - 4800);
    };
    std::vector<double> latencies;
    for (auto _ : state) {
        std::size_t from = 0;
        const auto result = pressAndWait(
            show, "5",
            [&] {
                from = recording.frames();
                return show.shownFrame() < 0 && quiet();
            },
            [&]() -> std::optional<bench::SteadyClock::time_point> {
                const auto first = loudFrom(from);
                const auto at = first ? recording.hostTimeOf(double(*first)) : std::nullopt;
                if (!at) {
                    return std::nullopt;
                }
                return bench::SteadyClock::time_point(
                    std::chrono::duration_cast<bench::SteadyClock::duration>(
                        std::chrono::duration<double>(*at)));
            });
        if (const auto* failure = std::get_if<std::string>(&result)) {
            state.SkipWithError(show.keepEvidence(*failure, package).c_str());
            return;
        }
        latencies.push_back(std::get<double>(result));
        state.SetIterationTime(latencies.back() / 1e3);
    }
    setFigures(state, "sound", latencies);
}

}  // namespace

BENCHMARK(BM_KeyPressToOutputFrame)
    ->ArgName("height")
    ->Arg(180)
    ->Arg(1080)
    ->Arg(2160)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(bench::iterations(100));
BENCHMARK(BM_KeyPressToCueSound)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(bench::iterations(100));
