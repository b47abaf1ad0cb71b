// The cost of composing the program output on presenter threads: one refresh of one view, and
// of two views showing the same moving pictures, at 1920x1080 and 3840x2160, against the same
// picture rendered by a compositor on the calling thread; and one view of a paused picture (the
// same picture every refresh, which the presenter shows again without drawing) against one that
// changes every refresh (the goal: paused under 5 % of changing). BM_ViewsOfOneTree shows a
// changing 2160p picture in views of several sizes: a full-size view and a 547x308 one (the player
// panel's picture) together against the full-size view alone (the goal: under 1.2x), the small
// view alone against the full-size one, and two full-size views sharing their drawings, each
// with pictures as images and kept as decoded (as players hand out 8-bit 4:2:0 clips');
// BM_DownscaleToPanel is the small view's shrinking alone, on one thread, and
// BM_DownscaleToPanelFromYuv the same from decoded 4:2:0 planes, of which it reads less than half
// as many bytes (it sums three planes where the other sums one word per pixel, so it does more
// arithmetic). BM_ConvertYuv2160 turns a 2160p 4:2:0 picture into RGB on a pool of four threads,
// by convertedYuv() and by libswscale in bands as the decoder does. Every case
// measures the CPU time of the whole process (all threads, the worker pool included) per refresh,
// so the ratio of a presenter case to the direct one is the price of the thread hand-over and the
// snapshots.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <QImage>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/picture_downscale.h"
#include "platform/graphics/presenter.h"
#include "platform/graphics/shared_compositions.h"
#include "platform/graphics/yuv_picture.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/yuv_pictures.h"

namespace {

using namespace kestio::platform;

// A player's decoded picture, the same one for every time.
class DecodedSource final : public FrameSource {
  public:
    DecodedSource(int width, int height) : frame_(width, height, QImage::Format_RGB32) {
        std::mt19937 random(1);
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<quint32*>(frame_.scanLine(y));
            const quint32 base = random();
            for (int x = 0; x < width; ++x) {
                line[x] = 0xff000000u | ((base + quint32(x) * 2654435761u) & 0x00ffffffu);
            }
        }
    }
    QImage frameAt(HostTime) const override { return frame_; }

  private:
    QImage frame_;
};

// Two decoded pictures, shown in turn (one per refresh at 64 per second) or the first one only.
class AlternatingSource final : public FrameSource {
  public:
    AlternatingSource(int width, int height, bool changing)
        : first_(width, height), second_(width, height), changing_(changing) {}
    QImage frameAt(HostTime time) const override {
        const bool odd = static_cast<long long>(std::floor(time.seconds() * 64.0 + 0.5)) % 2 != 0;
        return changing_ && odd ? second_.frameAt(time) : first_.frameAt(time);
    }

  private:
    DecodedSource first_;
    DecodedSource second_;
    bool changing_;
};

// A picture kept as decoded, as a player hands out an 8-bit 4:2:0 clip's: planes of random
// samples.
Picture decodedPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    return Picture(kestio::test::yuvPicture(
        {width, height}, [&](int, int, int) { return std::uint8_t(16 + random() % 220); }));
}

// Two decoded pictures kept as decoded, shown in turn (one per refresh at 64 per second).
class AlternatingDecodedSource final : public FrameSource {
  public:
    AlternatingDecodedSource(int width, int height)
        : first_(decodedPicture(width, height, 1)), second_(decodedPicture(width, height, 2)) {}
    QImage frameAt(HostTime time) const override { return pictureAt(time).toImage(); }
    Picture pictureAt(HostTime time) const override {
        const bool odd = static_cast<long long>(std::floor(time.seconds() * 64.0 + 0.5)) % 2 != 0;
        return odd ? second_ : first_;
    }

  private:
    Picture first_;
    Picture second_;
};

std::shared_ptr<Layer> playerTree(ManualRunLoop& loop, int width, int height,
                                  std::shared_ptr<const FrameSource> source) {
    auto root = Layer::create(loop);
    root->setFrame({0, 0, double(width), double(height)});
    root->setBackgroundColor(QColor(Qt::black));
    auto player = Layer::create(loop);
    player->setFrame(root->frame());
    player->setFrameSource(std::move(source));
    root->addSublayer(player);
    return root;
}

void BM_CompositorOnTheCallingThread(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    ManualRunLoop loop;
    auto root = playerTree(loop, w, h, std::make_shared<DecodedSource>(w, h));
    const auto snapshot = root->snapshot();
    Compositor compositor;
    QImage target;
    for (auto _ : state) {
        compositor.render(*snapshot, loop.now(), {w, h}, target);
        benchmark::DoNotOptimize(target.constBits());
    }
}

// state.range(2) views, each with its own presenter, of one tree's snapshots; an iteration
// moves the clock by one refresh and waits until every view has composed it.
void BM_Presenters(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const int views = int(state.range(2));
    ManualRunLoop loop;
    SnapshotPublisher publisher(loop);
    publisher.setRoot(playerTree(loop, w, h, std::make_shared<DecodedSource>(w, h)));
    auto clock = std::make_shared<ManualHostClock>();
    std::vector<std::unique_ptr<Presenter>> presenters;
    for (int i = 0; i < views; ++i) {
        auto presenter = std::make_unique<Presenter>(clock);
        presenter->setSource(publisher.slot());
        presenter->setSize({w, h});
        presenter->setRefreshRate(64.0);
        presenter->start();
        presenters.push_back(std::move(presenter));
    }
    std::uint64_t refresh = 1;
    for (auto& p : presenters) {
        p->waitForRefresh(refresh, 10.0);
    }
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
    state.counters["views"] = views;
}

// One view at 64 refreshes per second; state.range(2): 0 paused, 1 a new picture every refresh.
void BM_PresenterRefresh(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const bool changing = state.range(2) != 0;
    ManualRunLoop loop;
    SnapshotPublisher publisher(loop);
    publisher.setRoot(playerTree(loop, w, h, std::make_shared<AlternatingSource>(w, h, changing)));
    auto clock = std::make_shared<ManualHostClock>();
    Presenter presenter(clock);
    presenter.setSource(publisher.slot());
    presenter.setSize({w, h});
    presenter.setRefreshRate(64.0);
    presenter.start();
    std::uint64_t refresh = 1;
    presenter.waitForRefresh(refresh, 10.0);
    for (auto _ : state) {
        clock->advance(1.0 / 64.0);
        if (!presenter.waitForRefresh(++refresh, 10.0)) {
            state.SkipWithError("the presenter stopped composing");
            return;
        }
    }
    presenter.stop();
    std::size_t reused = 0;
    const auto records = presenter.takeRecords();
    for (const auto& record : records) {
        reused += record.reused ? 1 : 0;
    }
    state.counters["reused"] = records.empty() ? 0.0 : double(reused) / double(records.size());
}

// Views of one tree whose picture changes every refresh, all at 64 refreshes per second and
// sharing drawings as the views of one tree do: state.range(0) full-size (3840x2160) views and
// state.range(1) views of 547x308; the pictures are images (state.range(2) 0) or kept as
// decoded, as a player hands out an 8-bit 4:2:0 clip's (1).
void BM_ViewsOfOneTree(benchmark::State& state) {
    constexpr int kWidth = 3840;
    constexpr int kHeight = 2160;
    ManualRunLoop loop;
    SnapshotPublisher publisher(loop);
    std::shared_ptr<const FrameSource> source;
    if (state.range(2) != 0) {
        source = std::make_shared<AlternatingDecodedSource>(kWidth, kHeight);
    } else {
        source = std::make_shared<AlternatingSource>(kWidth, kHeight, true);
    }
    publisher.setRoot(playerTree(loop, kWidth, kHeight, std::move(source)));
    auto shared = std::make_shared<SharedCompositions>();
    auto clock = std::make_shared<ManualHostClock>();
    std::vector<std::unique_ptr<Presenter>> presenters;
    const auto add = [&](int count, QSize size) {
        for (int i = 0; i < count; ++i) {
            auto presenter = std::make_unique<Presenter>(clock);
            presenter->setSource(publisher.slot(), shared);
            presenter->setSize(size);
            presenter->setRefreshRate(64.0);
            presenter->start();
            presenters.push_back(std::move(presenter));
        }
    };
    add(int(state.range(0)), {kWidth, kHeight});
    add(int(state.range(1)), {547, 308});
    std::uint64_t refresh = 1;
    for (auto& p : presenters) {
        p->waitForRefresh(refresh, 10.0);
    }
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
    std::size_t drawn = 0;
    std::size_t records = 0;
    for (auto& p : presenters) {
        p->stop();
        for (const auto& record : p->takeRecords()) {
            drawn += record.drawn ? 1 : 0;
            ++records;
        }
    }
    state.counters["drawn"] = records == 0 ? 0.0 : double(drawn) / double(records);
}

// The small view's own work: a 2160p picture shrunk to 547x308 on the calling thread alone (a
// pool without workers), a different picture each iteration so that it is read from memory as a
// newly decoded one would be.
void BM_DownscaleToPanel(benchmark::State& state) {
    const DecodedSource first(3840, 2160);
    const DecodedSource second(3840, 2160);
    const QImage pictures[] = {first.frameAt({}), second.frameAt({})};
    const QRectF whole(0, 0, 3840, 2160);
    WorkerPool alone(0);
    std::size_t n = 0;
    for (auto _ : state) {
        const QImage small = downscaled(pictures[n++ % 2], whole, {547, 308}, alone);
        benchmark::DoNotOptimize(small.constBits());
    }
}

// BM_DownscaleToPanel's work from two decoded 4:2:0 pictures.
void BM_DownscaleToPanelFromYuv(benchmark::State& state) {
    const Picture first = decodedPicture(3840, 2160, 1);
    const Picture second = decodedPicture(3840, 2160, 2);
    const YuvPicture pictures[] = {*first.yuv(), *second.yuv()};
    const QRectF whole(0, 0, 3840, 2160);
    WorkerPool alone(0);
    std::size_t n = 0;
    for (auto _ : state) {
        const QImage small = downscaledYuv(pictures[n++ % 2], whole, {547, 308}, alone);
        benchmark::DoNotOptimize(small.constBits());
    }
}

// A 2160p 4:2:0 picture into RGB on three workers and the caller, alternately two pictures so
// that each is read from memory; state.range(0): 0 convertedYuv(), 1 libswscale in 16 bands,
// one context each, as the decoder converts today.
void BM_ConvertYuv2160(benchmark::State& state) {
    constexpr int kWidth = 3840;
    constexpr int kHeight = 2160;
    constexpr int kBands = 16;
    const Picture first = decodedPicture(kWidth, kHeight, 1);
    const Picture second = decodedPicture(kWidth, kHeight, 2);
    const YuvPicture pictures[] = {*first.yuv(), *second.yuv()};
    const bool swscale = state.range(0) != 0;
    WorkerPool pool(3);
    std::vector<SwsContext*> contexts;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    if (swscale) {
        for (int b = 0; b < kBands; ++b) {
            contexts.push_back(sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight,
                                              AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                              nullptr));
            sws_setColorspaceDetails(contexts.back(), sws_getCoefficients(SWS_CS_ITU709), 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        }
    }
    std::size_t n = 0;
    for (auto _ : state) {
        const YuvPicture& picture = pictures[n++ % 2];
        if (!swscale) {
            image = convertedYuv(picture, pool);
            benchmark::DoNotOptimize(image.constBits());
            continue;
        }
        // As the decoder does: every band's context is handed the whole picture and makes its
        // own rows of the image. Both frames lend their memory (buffers that free nothing), as
        // libswscale would copy a source, and allocate a target, that are not reference counted.
        const auto lent = [](const std::uint8_t* data, std::size_t size) {
            return av_buffer_create(
                const_cast<std::uint8_t*>(data), size, [](void*, std::uint8_t*) {}, nullptr, 0);
        };
        AVFrame* in = av_frame_alloc();
        AVFrame* out = av_frame_alloc();
        in->format = AV_PIX_FMT_YUV420P;
        in->width = kWidth;
        in->height = kHeight;
        for (int i = 0; i < 3; ++i) {
            in->data[i] = const_cast<std::uint8_t*>(picture.planes[i]);
            in->linesize[i] = static_cast<int>(picture.strides[i]);
            in->buf[i] = lent(picture.planes[i],
                              std::size_t(picture.strides[i]) * (i == 0 ? kHeight : kHeight / 2));
        }
        image = QImage(kWidth, kHeight, QImage::Format_RGB32);
        out->format = AV_PIX_FMT_BGRA;
        out->width = kWidth;
        out->height = kHeight;
        out->data[0] = image.bits();
        out->linesize[0] = static_cast<int>(image.bytesPerLine());
        out->buf[0] = lent(image.bits(), std::size_t(image.sizeInBytes()));
        pool.parallelFor(kBands, [&](int b) {
            SwsContext* sws = contexts[std::size_t(b)];
            const int top = kHeight * b / kBands / 2 * 2;
            const int bottom = b + 1 == kBands ? kHeight : kHeight * (b + 1) / kBands / 2 * 2;
            if (sws_frame_start(sws, out, in) >= 0 && sws_send_slice(sws, 0, kHeight) >= 0) {
                sws_receive_slice(sws, unsigned(top), unsigned(bottom - top));
            }
            sws_frame_end(sws);
        });
        av_frame_free(&in);
        av_frame_free(&out);
        benchmark::DoNotOptimize(image.constBits());
    }
    for (SwsContext* sws : contexts) {
        sws_freeContext(sws);
    }
    state.counters["cpu_per_px"] =
        benchmark::Counter(double(kWidth) * kHeight, benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080})->Args({3840, 2160});
}

BENCHMARK(BM_CompositorOnTheCallingThread)
    ->Apply(sizes)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_Presenters)
    ->Args({1920, 1080, 1})
    ->Args({3840, 2160, 1})
    ->Args({1920, 1080, 2})
    ->Args({3840, 2160, 2})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_PresenterRefresh)
    ->ArgNames({"w", "h", "changing"})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 1})
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_DownscaleToPanel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DownscaleToPanelFromYuv)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertYuv2160)
    ->ArgNames({"swscale"})
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ViewsOfOneTree)
    ->ArgNames({"full", "small", "decoded"})
    ->Args({1, 0, 0})
    ->Args({1, 1, 0})
    ->Args({0, 1, 0})
    ->Args({2, 0, 0})
    ->Args({1, 0, 1})
    ->Args({1, 1, 1})
    ->Args({0, 1, 1})
    ->Args({2, 0, 1})
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime();

}  // namespace
