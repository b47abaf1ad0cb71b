// Colour correction of a 3840x2160 frame with a full grading chain: the exact per-pixel path
// against the lookup table (into a new picture, and into a kept frame buffer), plus the time
// to build the table on a settings change. Frame times are wall clock with the process CPU
// time of all threads beside; run under `taskset -c 0-3` for the four-core figure.
#include <benchmark/benchmark.h>

#include <QImage>
#include <random>

#include "platform/graphics/color_filter_chain.h"
#include "platform/graphics/color_lut.h"

namespace {

using namespace kestio::platform;

const QImage& frame() {
    static const QImage image = [] {
        QImage f(3840, 2160, QImage::Format_ARGB32_Premultiplied);
        std::mt19937 random(5);
        for (int y = 0; y < f.height(); ++y) {
            auto* line = reinterpret_cast<quint32*>(f.scanLine(y));
            const quint32 base = random();
            for (int x = 0; x < f.width(); ++x) {
                line[x] = 0xff000000u | ((base + quint32(x) * 2654435761u) & 0x00ffffffu);
            }
        }
        return f;
    }();
    return image;
}

// 0: a usual grade; 1: every setting near its end (the largest tables).
ColorFilterChain chain(int which) {
    if (which == 0) {
        return ColorFilterChain({ColorControls{0.05f, 1.1f, 0.9f}, HueAdjust{0.3f},
                                 GammaAdjust{1.2f}, ColorMatrix{1.1f, 1.0f, 0.9f}});
    }
    return ColorFilterChain({ColorControls{-0.9f, 2.0f, 2.0f}, HueAdjust{3.1f}, GammaAdjust{0.1f},
                             ColorMatrix{2.0f, 0.05f, 1.9f}});
}

void BM_ExactPath(benchmark::State& state) {
    const ColorFilterChain c = chain(0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(c.apply(frame()));
    }
}
BENCHMARK(BM_ExactPath)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_LookupTable(benchmark::State& state) {
    const ColorLut lut(chain(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(lut.apply(frame()));
    }
}
BENCHMARK(BM_LookupTable)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_LookupTableIntoKeptBuffer(benchmark::State& state) {
    const ColorLut lut(chain(0));
    QImage out;
    for (auto _ : state) {
        lut.applyInto(frame(), out);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_LookupTableIntoKeptBuffer)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_BuildTable(benchmark::State& state) {
    const ColorFilterChain c = chain(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const ColorLut lut(c);
        benchmark::DoNotOptimize(&lut);
    }
}
BENCHMARK(BM_BuildTable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
