// What the external monitor's mirror adds to the program output: the output surface composed by
// one presenter at 1920x1080 or 3840x2160, alone and beside the mirror composed by a presenter of
// its own at the same size (a canvas of the same size in a window of that size). Both show one
// moving picture that changes every refresh, as a playing clip's does; the mirror shows the very
// same source, so nothing is decoded for it and its cost is its composition alone. CPU time of
// the whole process per refresh (64 refreshes per second of a manual clock).
#include <benchmark/benchmark.h>

#include <QImage>
#include <cmath>
#include <memory>
#include <random>

#include "output/external_monitor_content_view.h"
#include "output/output_surface.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"
#include "support/null_audio_device.h"

namespace {

using namespace kestio;
using namespace kestio::platform;

// Two noisy pictures of a decoded clip's size, one per refresh in turn.
class ChangingPictures final : public FrameSource {
  public:
    ChangingPictures(int width, int height) {
        std::mt19937 random(7);
        for (QImage& picture : pictures_) {
            picture = QImage(width, height, QImage::Format_RGB32);
            for (int y = 0; y < height; ++y) {
                auto* line = reinterpret_cast<quint32*>(picture.scanLine(y));
                const quint32 base = random();
                for (int x = 0; x < width; ++x) {
                    line[x] = 0xff000000u | ((base + quint32(x) * 2654435761u) & 0x00ffffffu);
                }
            }
        }
    }
    QImage frameAt(HostTime time) const override {
        return pictures_[std::llround(time.seconds() * 64.0) % 2];
    }

  private:
    QImage pictures_[2];
};

void BM_ProgramOutput(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const bool withMirror = state.range(2) != 0;
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
    auto pictures = std::make_shared<ChangingPictures>(w, h);
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
    const auto add = [&](const SnapshotPublisher& tree) {
        auto presenter = std::make_unique<Presenter>(clock);
        presenter->setSource(tree.slot());
        presenter->setSize({w, h});
        presenter->setRefreshRate(64.0);
        presenter->start();
        presenter->waitForRefresh(1, 10.0);
        presenters.push_back(std::move(presenter));
    };
    add(surfaceTree);
    if (mirror) {
        mirrorTree.setRoot(mirror->rootLayer());
        add(mirrorTree);
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
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

}  // namespace
