// The CPU compositor and the colour filters on full output pictures: one layer with colour
// correction, and a dissolve of two layers, at 1920x1080 and 3840x2160. The counters give
// pictures per second ("fps") and the share of one frame period at 29.97 and 59.94 fps that
// a picture takes ("load_29.97", "load_59.94": below 1 keeps up).
#include <benchmark/benchmark.h>

#include <QImage>
#include <chrono>
#include <memory>
#include <random>

#include "platform/graphics/color_filter_chain.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/manual_run_loop.h"

namespace {

using namespace kestio::platform;

QImage testFrame(int width, int height, unsigned seed) {
    QImage frame(width, height, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<quint32*>(frame.scanLine(y));
        const quint32 base = random();
        for (int x = 0; x < width; ++x) {
            line[x] = 0xff000000u | ((base + quint32(x) * 2654435761u) & 0x00ffffffu);
        }
    }
    return frame;
}

// A player's picture, passed through the colour step the way the per-frame hook does it.
class CorrectedSource final : public FrameSource {
  public:
    CorrectedSource(QImage frame, ColorFilterChain chain)
        : frame_(std::move(frame)), chain_(std::move(chain)) {}
    QImage frameAt(HostTime) const override { return chain_.apply(frame_); }

  private:
    QImage frame_;
    ColorFilterChain chain_;
};

class PlainSource final : public FrameSource {
  public:
    explicit PlainSource(QImage frame) : frame_(std::move(frame)) {}
    QImage frameAt(HostTime) const override { return frame_; }

  private:
    QImage frame_;
};

const ColorFilterChain& grading() {
    static const ColorFilterChain chain({ColorControls{0.05f, 1.1f, 0.9f}, HueAdjust{0.3f},
                                         GammaAdjust{1.2f}, ColorMatrix{1.1f, 1.0f, 0.9f}});
    return chain;
}

// Pictures per second, and the share of one frame period at 29.97 and 59.94 fps that a
// picture takes, from the wall-clock time of the measured loop.
void report(benchmark::State& state, std::chrono::steady_clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const double perPicture = seconds / static_cast<double>(state.iterations());
    state.counters["fps"] = 1.0 / perPicture;
    state.counters["load_29.97"] = perPicture * 29.97;
    state.counters["load_59.94"] = perPicture * 59.94;
}

// Runs `render` once per iteration and reports.
template <class Render>
void measure(benchmark::State& state, Render render) {
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        render();
    }
    report(state, std::chrono::steady_clock::now() - start);
}

std::shared_ptr<Layer> stage(ManualRunLoop& loop, int width, int height) {
    auto root = Layer::create(loop);
    root->setFrame({0, 0, double(width), double(height)});
    root->setBackgroundColor(QColor(Qt::black));
    root->setMasksToBounds(true);
    return root;
}

std::shared_ptr<Layer> playerLayer(ManualRunLoop& loop, Layer& root,
                                   std::shared_ptr<const FrameSource> source, double z) {
    auto container = Layer::create(loop);
    container->setFrame(root.frame());
    container->setZPosition(z);
    auto player = Layer::create(loop);
    player->setFrame(root.frame());
    player->setFrameSource(std::move(source));
    container->addSublayer(player);
    root.addSublayer(container);
    return container;
}

void BM_ColourFilters(benchmark::State& state) {
    const QImage frame = testFrame(int(state.range(0)), int(state.range(1)), 1);
    measure(state, [&] {
        QImage out = grading().apply(frame);
        benchmark::DoNotOptimize(out.constBits());
    });
}

void BM_OneLayerWithColourCorrection(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    ManualRunLoop loop;
    auto root = stage(loop, w, h);
    playerLayer(loop, *root, std::make_shared<CorrectedSource>(testFrame(w, h, 1), grading()), 1.0);
    Compositor compositor;
    QImage target;
    measure(state, [&] {
        compositor.render(*root, loop.now(), {w, h}, target);
        benchmark::DoNotOptimize(target.constBits());
    });
}

void BM_DissolveOfTwoLayers(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    ManualRunLoop loop;
    auto root = stage(loop, w, h);
    playerLayer(loop, *root, std::make_shared<PlainSource>(testFrame(w, h, 1)), 1.0);
    auto upper = playerLayer(loop, *root, std::make_shared<PlainSource>(testFrame(w, h, 2)), 2.0);
    upper->setOpacity(0.0f);
    upper->addAnimation("fadeIn", {0.0f, 1.0f, 1.0});
    Compositor compositor;
    QImage target;
    measure(state, [&] {
        compositor.render(*root, loop.now() + 0.5, {w, h}, target);
        benchmark::DoNotOptimize(target.constBits());
    });
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_ColourFilters)->Apply(sizes);
BENCHMARK(BM_OneLayerWithColourCorrection)->Apply(sizes);
BENCHMARK(BM_DissolveOfTwoLayers)->Apply(sizes);

}  // namespace
