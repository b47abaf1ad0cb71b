// What the external monitor's mirror adds to the program output: the output surface composed by
// one presenter at 1920x1080 or 3840x2160, alone and beside the mirror composed by a presenter of
// its own at the same size (a canvas of the same size in a window of that size). Both show one
// moving picture that changes every refresh, as a playing clip's does; the mirror shows the very
// same source, so nothing is decoded for it. With mirror:1 the two presenters share their
// drawings, as the output window shares the surface's views' (the controller's
// shareCompositionsWith): the mirror finds each picture the surface drew and works out its
// composition only. mirror:2 keeps the mirror's drawings to itself, as a window whose size no
// view of the surface has. CPU time of the whole process per refresh (64 refreshes per second of
// a manual clock).
#include <benchmark/benchmark.h>

#include <memory>

#include "changing_pictures.h"
#include "output/external_monitor_content_view.h"
#include "output/output_surface.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
#include "platform/graphics/shared_compositions.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"
#include "support/null_audio_device.h"

namespace {

using namespace kestio;
using namespace kestio::platform;

void BM_ProgramOutput(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const bool withMirror = state.range(2) != 0;
    const bool sharing = state.range(2) == 1;
    ManualRunLoop loop;
    test::FakeMediaFactory media(loop);
    output::OutputSurface surface(
        {loop, std::make_shared<test::NullAudioDevice>(), media,
         [&loop](std::shared_ptr<media::QueuePlayer> player, AudioEngineController&) {
             return std::make_unique<test::FakeClipPlayer>(loop, std::move(player));
         }});
    surface.setMonitorSize({double(w), double(h)});
    surface.setViewSize({double(w), double(h)});
    surface.prepareForPlay(true);  // slot A on air
    auto pictures = std::make_shared<bench::ChangingPictures>(w, h, 64.0);
    surface.slotA().videoLayer()->setFrameSource(pictures);

    std::unique_ptr<output::ExternalMonitorContentView> mirror;
    if (withMirror) {
        mirror = std::make_unique<output::ExternalMonitorContentView>(loop, surface,
                                                                      SizeF{double(w), double(h)});
        mirror->layout({double(w), double(h)});
        // The clip's pictures reach the mirror through the same source.
        mirror->mirrorLayer(true)->setFrameSource(pictures);
    }

    auto clock = std::make_shared<ManualHostClock>();
    SnapshotPublisher surfaceTree(loop);
    SnapshotPublisher mirrorTree(loop);
    surfaceTree.setRoot(surface.rootLayer());
    std::vector<std::unique_ptr<Presenter>> presenters;
    const auto surfaceDrawings = std::make_shared<SharedCompositions>();
    const auto add = [&](const SnapshotPublisher& tree,
                         std::shared_ptr<SharedCompositions> shared) {
        auto presenter = std::make_unique<Presenter>(clock);
        presenter->setSource(tree.slot(), std::move(shared));
        presenter->setSize({w, h});
        presenter->setRefreshRate(64.0);
        presenter->start();
        presenter->waitForRefresh(1, 10.0);
        presenters.push_back(std::move(presenter));
    };
    add(surfaceTree, surfaceDrawings);
    if (mirror) {
        mirrorTree.setRoot(mirror->rootLayer());
        add(mirrorTree, sharing ? surfaceDrawings : nullptr);
    }
    std::uint64_t refresh = 1;
    for (auto _ : state) {
        clock->advance(1.0 / 64.0);
        ++refresh;
        for (auto& p : presenters) {
            if (!p->waitForRefresh(refresh, 10.0)) {
                state.SkipWithError("a presenter stopped composing");
                return;
            }
        }
    }
    for (auto& p : presenters) {
        p->stop();
    }
}

BENCHMARK(BM_ProgramOutput)
    ->ArgNames({"w", "h", "mirror"})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 2})
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 1})
    ->Args({3840, 2160, 2})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

}  // namespace
