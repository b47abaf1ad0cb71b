// The program output on real decoding, on the steady clock:
// - BM_CutToFirstComposedPicture: from cut() to a slot whose 1080p59.94 clip is ready, to the
//   moment the first picture showing it is composed by a presenter (at 59.94 refreshes a second),
//   as a share of one frame period (the goal: at most 1); and to that refresh's presentation
//   time (a refresh is composed during the period before it is presented).
// - BM_DissolveOfTwoCorrectedClips: a 60 s dissolve between two looping 1080p59.94 clips, both
//   colour-corrected, composed at 1920x1080 by a presenter at 59.94: refreshes skipped and
//   pictures shown twice (a decoder late) per slot (the goal: none; run under taskset -c 0-3).
// - BM_SlotMemory / BM_DissolveMemory: what one slot holding a ready 2160p clip, and the whole
//   surface during a dissolve between two playing 2160p clips, add to the resident size.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "media_bench.h"
#include "output/output_surface.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/runloop/host_clock.h"
#include "platform/runloop/manual_run_loop.h"
#include "resident_memory.h"
#include "support/null_audio_device.h"

namespace {

using namespace kestio;
using namespace kestio::platform;
using kestio::bench::grainClip;
using kestio::bench::residentBytes;
using kestio::bench::runUntil;
using kestio::bench::steadyNow;
using output::OutputSurface;
using output::PlaybackSlot;

constexpr double kFrameRate = 60000.0 / 1001.0;
constexpr QSize kProgram{1920, 1080};

const std::filesystem::path& clip(int height, int frames) {
    return grainClip({.height = height,
                      .frameRate = "60000/1001",
                      // Files of other lengths under other names.
                      .rateName = "59.94_" + std::to_string(frames) + "f",
                      .frames = frames,
                      .keyFrameInterval = 60});
}

// The surface on a null device that is never pulled (its engine clock then runs on host time),
// its run loop following the steady clock, and a presenter of its tree on the steady clock.
struct LiveSurface {
    explicit LiveSurface(QSize size = kProgram) {
        surface.setViewSize({double(size.width()), double(size.height())});
        publisher.setRoot(surface.rootLayer());
        presenter.setSource(publisher.slot());
        presenter.setSize(size);
        presenter.setRefreshRate(kFrameRate);
    }
    void follow(double seconds) { pace.follow(seconds); }
    bool loadReady(PlaybackSlot& slot, const std::filesystem::path& path,
                   const ColorSettings& colors = {}) {
        slot.load(path, 0.0, std::nullopt, colors);
        return runUntil(loop, [&] { return slot.playerLayer().readyForDisplay(); });
    }
    bool loopReady(PlaybackSlot& slot, const std::filesystem::path& path) {
        auto asset = media.makeAsset(path);
        bool ready = false;
        slot.startLoop(path, asset, media.makeItem(asset), 0.0, std::nullopt,
                       [&ready] { ready = true; });
        const auto deadline = steadyNow() + 60.0;
        while (!(ready && slot.clipPlayer().startTime().get()) && steadyNow() < deadline) {
            follow(0.005);
        }
        return ready;
    }

    ManualRunLoop loop{HostTime(steadyNow())};
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock());
    kestio::bench::SteadyPace pace{loop, *device};
    media::DecodedMediaFactory media{loop};
    OutputSurface surface{OutputSurface::Services{loop, device, media}};
    SnapshotPublisher publisher{loop};
    Presenter presenter{std::make_shared<SteadyHostClock>()};
};

ColorSettings corrected() {
    ColorSettings colors;
    colors.brightness = 0.05f;
    colors.contrast = 1.1f;
    colors.saturation = 0.8f;
    return colors;
}

bool isRed(const QImage& picture) {
    if (picture.isNull()) {
        return false;
    }
    const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
    return c.red() > 200 && c.green() < 30 && c.blue() < 30;
}

// Slot A shows a red still; slot B is loaded with the clip, its first picture ready. The time
// from cut() to the first composed picture that no longer shows red.
void BM_CutToFirstComposedPicture(benchmark::State& state) {
    const auto& path = clip(1080, 120);
    LiveSurface live;
    // The presenter thread notes, for each picture it composes, when and for which presentation
    // time, and whether it is red.
    struct Composed {
        double at;
        double target;
        bool red;
    };
    std::mutex mutex;
    std::vector<Composed> composed;
    live.presenter.setFrameReady([&] {
        const double at = steadyNow();
        const PresentedFrame frame = live.presenter.newestFrame();
        const bool red = isRed(frame.image);
        std::lock_guard lock(mutex);
        composed.push_back({at, frame.targetTime.seconds(), red});
    });
    live.presenter.start();
    QImage red(1920, 1080, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    std::vector<double> toComposed;
    std::vector<double> toPresented;
    for (auto _ : state) {
        state.PauseTiming();
        live.surface.stopAll();
        live.surface.prepareForPlay(false);
        live.surface.slotA().showStill(red, {});
        if (!live.loadReady(live.surface.slotB(), path)) {
            state.SkipWithError("the clip did not become ready");
            return;
        }
        live.publisher.publish();
        while (!isRed(live.presenter.newestFrame().image)) {
            live.presenter.waitForNewFrame(1.0);
        }
        state.ResumeTiming();
        const double asked = steadyNow();
        live.surface.cut(live.surface.slotB());
        live.publisher.publish();
        std::optional<Composed> first;
        while (!first) {
            live.presenter.waitForNewFrame(1.0);
            std::lock_guard lock(mutex);
            for (const auto& c : composed) {
                if (c.at > asked && !c.red) {
                    first = c;
                    break;
                }
            }
            composed.clear();
        }
        state.SetIterationTime(first->at - asked);
        toComposed.push_back((first->at - asked) * kFrameRate);
        toPresented.push_back((first->target - asked) * kFrameRate);
    }
    live.presenter.stop();
    const auto mean = [](const std::vector<double>& v) {
        return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
    };
    state.counters["composed_mean_frames"] = mean(toComposed);
    state.counters["composed_worst_frames"] =
        *std::max_element(toComposed.begin(), toComposed.end());
    state.counters["presented_mean_frames"] = mean(toPresented);
    state.counters["presented_worst_frames"] =
        *std::max_element(toPresented.begin(), toPresented.end());
}
BENCHMARK(BM_CutToFirstComposedPicture)
    ->Iterations(30)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Both slots loop their clips, colour-corrected; a 60 s dissolve from A to B is composed at
// 1920x1080. Counts refreshes skipped, and refreshes in which a slot's picture is the one it
// showed the refresh before (its decoder was late), over the dissolve; and the refreshes
// composed again for a snapshot stored before their time.
void BM_DissolveOfTwoCorrectedClips(benchmark::State& state) {
    const double seconds = double(state.range(0));
    const auto& first = clip(1080, 600);
    const auto& second = clip(1080, 601);  // another file, decoded on its own
    for (auto _ : state) {
        LiveSurface live;
        live.surface.slotA().colorSettingsBox().setValue(corrected());
        live.surface.slotB().colorSettingsBox().setValue(corrected());
        live.surface.prepareForPlay(false);
        if (!live.loopReady(live.surface.slotA(), first) ||
            !live.loopReady(live.surface.slotB(), second)) {
            state.SkipWithError("a loop did not become ready");
            return;
        }
        live.presenter.start();
        live.follow(1.0);
        live.presenter.takeRecords();
        live.surface.dissolve(live.surface.slotB(), seconds);
        live.follow(seconds);
        auto records = live.presenter.takeRecords();
        live.presenter.stop();
        // Refreshes composed again for a snapshot stored before their time count once.
        const auto recomposed =
            std::erase_if(records, [](const RefreshRecord& r) { return r.recomposed; });
        std::uint64_t skipped = 0;
        std::uint64_t repeated = 0;
        for (std::size_t i = 1; i < records.size(); ++i) {
            skipped += records[i].refresh - records[i - 1].refresh - 1;
            // While both slots are seen, each shows a new picture every refresh.
            std::set<qint64> before;
            for (const auto& p : records[i - 1].pictures) {
                before.insert(p.picture);
            }
            for (const auto& p : records[i].pictures) {
                repeated += before.count(p.picture);
            }
        }
        state.counters["refreshes"] = double(records.size());
        state.counters["recomposed"] = double(recomposed);
        state.counters["skipped"] = double(skipped);
        state.counters["repeated_pictures"] = double(repeated);
        state.counters["late_refreshes"] =
            double(std::count_if(records.begin(), records.end(), [](const RefreshRecord& r) {
                return r.composedAt > r.targetTime;
            }));
    }
}
BENCHMARK(BM_DissolveOfTwoCorrectedClips)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond);

// One slot holding a ready 2160p clip (its first picture decoded, its read-ahead done, its
// sound loaded): what it adds to the resident size.
void BM_SlotMemory(benchmark::State& state) {
    const auto& path = clip(2160, 300);
    for (auto _ : state) {
        LiveSurface live;
        malloc_trim(0);
        const double before = residentBytes();
        if (!live.loadReady(live.surface.slotA(), path)) {
            state.SkipWithError("the clip did not become ready");
            return;
        }
        runUntil(live.loop, [&] { return live.surface.slotA().audio().loadFinished(); });
        while (live.loop.waitForPosted(0.5)) {
        }
        state.counters["MB"] = (residentBytes() - before) / 1e6;
    }
}
BENCHMARK(BM_SlotMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// The whole surface during a dissolve between two playing 2160p clips, composed at 3840x2160:
// the resident size it adds at the dissolve's midpoint.
void BM_DissolveMemory(benchmark::State& state) {
    const auto& first = clip(2160, 300);
    const auto& second = clip(2160, 301);
    for (auto _ : state) {
        malloc_trim(0);
        const double before = residentBytes();
        LiveSurface live({3840, 2160});
        live.surface.prepareForPlay(false);
        if (!live.loopReady(live.surface.slotA(), first) ||
            !live.loopReady(live.surface.slotB(), second)) {
            state.SkipWithError("a loop did not become ready");
            return;
        }
        live.presenter.start();
        live.surface.dissolve(live.surface.slotB(), 4.0);
        live.follow(2.0);
        state.counters["MB"] = (residentBytes() - before) / 1e6;
        live.presenter.stop();
    }
}
BENCHMARK(BM_DissolveMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
