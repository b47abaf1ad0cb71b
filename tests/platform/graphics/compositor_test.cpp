#include "platform/graphics/compositor.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <cmath>
#include <functional>
#include <vector>

#include "platform/graphics/transaction.h"
#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform {
namespace {

QImage solid(int w, int h, QColor color, QImage::Format format = QImage::Format_RGB32) {
    QImage image(w, h, format);
    image.fill(color);
    return image;
}

// Pictures for a time, as a player would give them.
class FakeFrameSource final : public FrameSource {
  public:
    explicit FakeFrameSource(QImage frame) : frame_(std::move(frame)) {}
    QImage frameAt(HostTime runLoopTime) const override {
        times.push_back(runLoopTime.seconds());
        return frame_;
    }
    mutable std::vector<double> times;

  private:
    QImage frame_;
};

class CompositorTest : public ::testing::Test {
  protected:
    std::shared_ptr<Layer> makeRoot(double w, double h) {
        auto root = Layer::create(loop);
        root->setFrame({0, 0, w, h});
        root->setBackgroundColor(QColor(Qt::black));
        root->setMasksToBounds(true);
        return root;
    }
    std::shared_ptr<Layer> addSolid(Layer& parent, RectF frame, QColor color, double z = 0) {
        auto layer = Layer::create(loop);
        layer->setFrame(frame);
        layer->setContents(solid(8, 8, color));
        layer->setZPosition(z);
        parent.addSublayer(layer);
        return layer;
    }
    static QColor at(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

    ManualRunLoop loop;
    Compositor compositor;
};

void expectNear(QColor actual, int r, int g, int b, int tolerance, const char* where) {
    EXPECT_NEAR(actual.red(), r, tolerance) << where;
    EXPECT_NEAR(actual.green(), g, tolerance) << where;
    EXPECT_NEAR(actual.blue(), b, tolerance) << where;
}

TEST_F(CompositorTest, ADissolveBlendsAsTheEaseCurveSays) {
    auto root = makeRoot(192, 108);
    auto lower = addSolid(*root, {0, 0, 192, 108}, QColor(255, 0, 0), 1.0);
    auto upper = addSolid(*root, {0, 0, 192, 108}, QColor(0, 0, 255), 2.0);
    upper->setOpacity(0.0f);
    upper->addAnimation("fadeIn", {0.0f, 1.0f, 1.0});
    const HostTime start = loop.now();

    const QColor before = at(compositor.render(*root, start, {192, 108}), 96, 54);
    expectNear(before, 255, 0, 0, 0, "start");
    // Upper opacity at the midpoint is 0.5; at a quarter of the time it is 0.12916.
    const QColor mid = at(compositor.render(*root, start + 0.5, {192, 108}), 96, 54);
    expectNear(mid, 128, 0, 128, 1, "midpoint");
    const QColor quarter = at(compositor.render(*root, start + 0.25, {192, 108}), 10, 10);
    expectNear(quarter, std::lround(255 * (1 - 0.1291619)), 0, std::lround(255 * 0.1291619), 1,
               "quarter");
    const QColor after = at(compositor.render(*root, start + 3.0, {192, 108}), 96, 54);
    expectNear(after, 0, 0, 255, 0, "held after the end");
}

TEST_F(CompositorTest, AnAnimationRemovedEarlyFiresItsCompletionAndShowsTheModelValue) {
    auto root = makeRoot(64, 36);
    auto upper = addSolid(*root, {0, 0, 64, 36}, QColor(255, 255, 255));
    upper->setOpacity(0.0f);
    bool completed = false;
    {
        Transaction t(loop);
        t.setCompletion([&] { completed = true; });
        t.addAnimation(*upper, "fadeIn", {0.0f, 1.0f, 2.0});
    }
    loop.advance(1.0);
    expectNear(at(compositor.render(*root, loop.now(), {64, 36}), 5, 5), 128, 128, 128, 1, "mid");
    upper->removeAnimation("fadeIn");
    loop.runPending();
    EXPECT_TRUE(completed);
    expectNear(at(compositor.render(*root, loop.now(), {64, 36}), 5, 5), 0, 0, 0, 0, "model");
}

TEST_F(CompositorTest, ACutInATransactionRendersOnlyTheEndState) {
    auto root = makeRoot(64, 36);
    auto a = addSolid(*root, {0, 0, 64, 36}, QColor(255, 0, 0), 1.0);
    auto b = addSolid(*root, {0, 0, 64, 36}, QColor(0, 255, 0), 2.0);
    b->setOpacity(0.0f);
    b->addAnimation("fadeIn", {0.0f, 1.0f, 1.0});
    loop.advance(0.4);
    {
        Transaction t(loop);
        b->removeAnimation("fadeIn");
        a->setOpacity(1.0f);
        b->setOpacity(0.0f);
    }
    for (double dt : {0.0, 0.01, 0.5}) {
        loop.advance(dt);
        expectNear(at(compositor.render(*root, loop.now(), {64, 36}), 30, 20), 255, 0, 0, 0,
                   "after cut");
    }
}

TEST_F(CompositorTest, ResizeAspectLetterboxesA4By3StillOnA16By9CanvasExactly) {
    for (const QSize out : {QSize(192, 108), QSize(1920, 1080)}) {
        auto root = makeRoot(out.width(), out.height());
        auto container = Layer::create(loop);
        container->setFrame({0, 0, double(out.width()), double(out.height())});
        container->setContents(solid(640, 480, QColor(0, 200, 0)));
        container->setContentsGravity(Gravity::ResizeAspect);
        root->addSublayer(container);
        const QImage image = compositor.render(*root, loop.now(), out);
        const int bar = out.width() / 8;  // (16/9 - 4/3) / 2 of the height = 1/8 of the width
        for (int y : {0, out.height() / 2, out.height() - 1}) {
            EXPECT_EQ(at(image, bar - 1, y), QColor(Qt::black)) << out.width() << " row " << y;
            EXPECT_EQ(at(image, bar, y), QColor(0, 200, 0)) << out.width() << " row " << y;
            EXPECT_EQ(at(image, out.width() - bar - 1, y), QColor(0, 200, 0));
            EXPECT_EQ(at(image, out.width() - bar, y), QColor(Qt::black));
            EXPECT_EQ(at(image, 0, y), QColor(Qt::black));
        }
    }
}

TEST_F(CompositorTest, APlayerLayerShowsItsSourcesPictureForTheRenderedTime) {
    auto root = makeRoot(160, 90);
    auto player = Layer::create(loop);
    player->setFrame({0, 0, 160, 90});
    auto source = std::make_shared<FakeFrameSource>(solid(40, 30, QColor(10, 20, 30)));
    player->setFrameSource(source);
    root->addSublayer(player);
    const QImage fit = compositor.render(*root, HostTime(12.5), {160, 90});
    ASSERT_EQ(source->times, std::vector<double>{12.5});
    EXPECT_EQ(at(fit, 19, 45), QColor(Qt::black));  // 4:3 in 16:9: bars of 20 pixels
    EXPECT_EQ(at(fit, 20, 45), QColor(10, 20, 30));
    EXPECT_EQ(at(fit, 139, 0), QColor(10, 20, 30));
    EXPECT_EQ(at(fit, 140, 45), QColor(Qt::black));
    player->setVideoGravity(Gravity::Resize);
    const QImage stretched = compositor.render(*root, HostTime(13.0), {160, 90});
    EXPECT_EQ(at(stretched, 0, 0), QColor(10, 20, 30));
    EXPECT_EQ(at(stretched, 159, 89), QColor(10, 20, 30));
    // A source with nothing to show yet draws nothing.
    player->setFrameSource(std::make_shared<FakeFrameSource>(QImage()));
    EXPECT_EQ(at(compositor.render(*root, HostTime(14.0), {160, 90}), 80, 45), QColor(Qt::black));
}

TEST_F(CompositorTest, GeometryIsMeasuredFromTheLowerLeft) {
    auto root = makeRoot(100, 50);
    auto container = Layer::create(loop);
    container->setFrame({10, 5, 40, 20});  // x 10..50, y 5..25 from the bottom
    root->addSublayer(container);
    addSolid(*container, {0, 0, 20, 10}, QColor(255, 255, 0));  // lower-left quarter of it
    const QImage image = compositor.render(*root, HostTime(0.0), {100, 50});
    // Rows from the top: the container covers 25..44, its lower-left child rows 35..44.
    EXPECT_EQ(at(image, 10, 44), QColor(255, 255, 0));
    EXPECT_EQ(at(image, 29, 35), QColor(255, 255, 0));
    EXPECT_EQ(at(image, 30, 35), QColor(Qt::black));
    EXPECT_EQ(at(image, 10, 34), QColor(Qt::black));
    EXPECT_EQ(at(image, 10, 45), QColor(Qt::black));
    EXPECT_EQ(at(image, 9, 44), QColor(Qt::black));
}

TEST_F(CompositorTest, HigherZDrawsOnTopAndEqualZKeepsInsertionOrder) {
    auto root = makeRoot(30, 10);
    addSolid(*root, {0, 0, 30, 10}, QColor(255, 0, 0), 2.0);
    addSolid(*root, {0, 0, 20, 10}, QColor(0, 255, 0), 1.0);   // below the red one
    addSolid(*root, {10, 0, 20, 10}, QColor(0, 0, 255), 2.0);  // same z, added later: on top
    const QImage image = compositor.render(*root, HostTime(0.0), {30, 10});
    EXPECT_EQ(at(image, 5, 5), QColor(255, 0, 0));
    EXPECT_EQ(at(image, 15, 5), QColor(0, 0, 255));
}

TEST_F(CompositorTest, OpacityMultipliesIntoSublayersAndHiddenOrTransparentDrawNothing) {
    auto root = makeRoot(40, 10);
    auto group = Layer::create(loop);
    group->setFrame({0, 0, 40, 10});
    group->setOpacity(0.5f);
    root->addSublayer(group);
    auto child = addSolid(*group, {0, 0, 20, 10}, QColor(255, 255, 255));
    auto hidden = addSolid(*group, {20, 0, 20, 10}, QColor(255, 255, 255));
    hidden->setHidden(true);
    QImage image = compositor.render(*root, HostTime(0.0), {40, 10});
    expectNear(at(image, 5, 5), 128, 128, 128, 1, "half");
    EXPECT_EQ(at(image, 25, 5), QColor(Qt::black));
    group->setOpacity(0.0f);
    image = compositor.render(*root, HostTime(0.0), {40, 10});
    EXPECT_EQ(at(image, 5, 5), QColor(Qt::black));
}

TEST_F(CompositorTest, MasksToBoundsClipsSublayers) {
    auto root = makeRoot(40, 20);
    auto box = Layer::create(loop);
    box->setFrame({10, 0, 10, 20});
    root->addSublayer(box);
    addSolid(*box, {-10, 0, 30, 20}, QColor(0, 255, 255));
    QImage image = compositor.render(*root, HostTime(0.0), {40, 20});
    EXPECT_EQ(at(image, 5, 10), QColor(0, 255, 255));
    box->setMasksToBounds(true);
    image = compositor.render(*root, HostTime(0.0), {40, 20});
    EXPECT_EQ(at(image, 5, 10), QColor(Qt::black));
    EXPECT_EQ(at(image, 10, 10), QColor(0, 255, 255));
    EXPECT_EQ(at(image, 20, 10), QColor(Qt::black));
}

TEST_F(CompositorTest, TheRootFillsTheImageWhateverItsSize) {
    auto root = makeRoot(1920, 1080);
    addSolid(*root, {960, 540, 960, 540}, QColor(255, 0, 255));  // upper-right quarter
    const QImage small = compositor.render(*root, HostTime(0.0), {192, 108});
    EXPECT_EQ(at(small, 96, 53), QColor(255, 0, 255));
    EXPECT_EQ(at(small, 95, 53), QColor(Qt::black));
    EXPECT_EQ(at(small, 96, 54), QColor(Qt::black));
    EXPECT_EQ(at(small, 191, 0), QColor(255, 0, 255));
}

TEST_F(CompositorTest, BrokenGeometryDrawsNothingAndNeverCrashes) {
    auto root = makeRoot(64, 36);
    addSolid(*root, {std::nan(""), 0, 10, 10}, QColor(255, 0, 0));
    addSolid(*root, {0, 0, INFINITY, 10}, QColor(255, 0, 0));
    addSolid(*root, {-1e300, -1e300, 2e300, 2e300}, QColor(0, 0, 255));
    auto zero = addSolid(*root, {5, 5, 0, 0}, QColor(255, 0, 0));
    auto nanOpacity = addSolid(*root, {0, 0, 64, 36}, QColor(255, 0, 0), 5);
    nanOpacity->setOpacity(std::nanf(""));
    const QImage image = compositor.render(*root, HostTime(0.0), {64, 36});
    EXPECT_EQ(at(image, 30, 18), QColor(0, 0, 255));  // the huge one covers everything
    EXPECT_TRUE(compositor.render(*root, HostTime(0.0), {0, 0}).isNull());
}

TEST_F(CompositorTest, BandsOnManyThreadsGiveTheSamePictureAsOneThread) {
    auto root = makeRoot(1280, 720);
    auto player = Layer::create(loop);
    player->setFrame({13.3, 7.1, 1000.5, 700.2});
    QImage gradient(333, 211, QImage::Format_RGB32);
    for (int y = 0; y < gradient.height(); ++y) {
        for (int x = 0; x < gradient.width(); ++x) {
            gradient.setPixelColor(x, y, QColor(x % 256, y % 256, (x * y) % 256));
        }
    }
    player->setFrameSource(std::make_shared<FakeFrameSource>(gradient));
    player->setOpacity(0.7f);
    root->addSublayer(player);
    auto still = addSolid(*root, {100, 100, 600, 300}, QColor(1, 2, 3), 3);
    still->setContents(gradient);
    still->setContentsGravity(Gravity::ResizeAspect);
    WorkerPool single(0);
    Compositor serial(single);
    const QImage a = serial.render(*root, HostTime(0.0), {1280, 720});
    const QImage b = compositor.render(*root, HostTime(0.0), {1280, 720});
    EXPECT_EQ(a, b);
}

// The composition drawn op by op over a cleared image in one go, on the calling thread: what the
// banded drawing has to match, whatever it leaves out as hidden.
QImage drawnOpByOp(const Composition& composition) {
    QImage image(composition.size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (const auto& op : composition.ops) {
        painter.setOpacity(op.opacity);
        if (op.image.isNull()) {
            painter.fillRect(op.target, op.fill);
        } else {
            painter.drawImage(QRectF(op.target), op.image.toImage(), op.source);
        }
    }
    return image;
}

// A program over a red background: what beneath a picture or fill may be left undrawn, and what
// must still show through. Each is drawn into an image left green by the drawing before, so a
// band that is neither cleared nor covered shows.
TEST_F(CompositorTest, LeavesUndrawnOnlyWhatAnOpaqueLayerHidesEverywhereInItsBand) {
    struct Case {
        const char* name;
        std::function<void(Layer& root)> build;
        bool covered;        // some op hides all beneath it over the whole picture
        QColor centre;       // of the picture
        QColor bottomRight;  // the last pixel
    };
    const auto player = [&](Layer& root, RectF frame, QImage picture, float opacity) {
        auto layer = Layer::create(loop);
        layer->setFrame(frame);
        layer->setFrameSource(std::make_shared<FakeFrameSource>(std::move(picture)));
        layer->setOpacity(opacity);
        root.addSublayer(layer);
    };
    const QColor red(255, 0, 0);
    const QColor blue(0, 0, 255);
    const Case cases[] = {
        {"an opaque picture over all",
         [&](Layer& root) {
             player(root, {0, 0, 320, 180}, solid(320, 180, blue), 1.0f);
         },
         true, blue, blue},
        {"an opaque picture scaled up over all",
         [&](Layer& root) {
             player(root, {0, 0, 320, 180}, solid(16, 9, blue), 1.0f);
         },
         true, blue, blue},
        {"a picture with an alpha channel",
         [&](Layer& root) {
             player(root, {0, 0, 320, 180},
                    solid(320, 180, QColor(0, 0, 255, 128), QImage::Format_ARGB32_Premultiplied),
                    1.0f);
         },
         true,  // the red background still covers everything
         QColor(127, 0, 128), QColor(127, 0, 128)},
        {"an opaque picture half transparent",
         [&](Layer& root) {
             player(root, {0, 0, 320, 180}, solid(320, 180, blue), 0.5f);
         },
         true, QColor(127, 0, 128), QColor(127, 0, 128)},
        {"an opaque picture over the top rows only",
         [&](Layer& root) {
             player(root, {0, 100, 320, 80}, solid(320, 80, blue), 1.0f);
         },
         true, red, red},
        {"no background, a translucent fill",
         [&](Layer& root) {
             root.setBackgroundColor(std::nullopt);
             auto fill = Layer::create(loop);
             fill->setFrame({0, 0, 320, 180});
             fill->setBackgroundColor(QColor(0, 0, 255, 128));
             root.addSublayer(fill);
         },
         false, QColor(0, 0, 255, 128), QColor(0, 0, 255, 128)},
        {"no background, a picture in one corner",
         [&](Layer& root) {
             root.setBackgroundColor(std::nullopt);
             player(root, {288, 0, 32, 18}, solid(32, 18, blue), 1.0f);
         },
         false, QColor(0, 0, 0, 0), blue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto root = makeRoot(320, 180);
        root->setBackgroundColor(red);
        c.build(*root);
        const auto snapshot = root->snapshot();
        const Composition composition = compositor.compose(*snapshot, HostTime(0.0), {320, 180});
        EXPECT_EQ(composition.coveringOp(QRect(0, 0, 320, 180)).has_value(), c.covered);
        QImage target(320, 180, QImage::Format_ARGB32_Premultiplied);
        target.fill(QColor(0, 255, 0));
        compositor.draw(composition, target);
        EXPECT_EQ(target, drawnOpByOp(composition));
        expectNear(at(target, 160, 90), c.centre.red(), c.centre.green(), c.centre.blue(), 1,
                   "centre");
        EXPECT_NEAR(at(target, 160, 90).alpha(), c.centre.alpha(), 1);
        expectNear(at(target, 319, 179), c.bottomRight.red(), c.bottomRight.green(),
                   c.bottomRight.blue(), 1, "bottom right");
    }
}

// A full-screen picture on a black program: every band starts at the picture, the black and the
// clearing beneath it left out; where a layer above is translucent, the band still starts at
// the picture beneath it.
TEST_F(CompositorTest, APictureOverTheWholeProgramIsWhereEveryBandStarts) {
    auto root = makeRoot(3840, 2160);
    auto player = Layer::create(loop);
    player->setFrame({0, 0, 3840, 2160});
    player->setFrameSource(std::make_shared<FakeFrameSource>(solid(64, 36, QColor(9, 9, 9))));
    root->addSublayer(player);
    auto title = Layer::create(loop);
    title->setFrame({0, 0, 3840, 200});
    title->setBackgroundColor(QColor(255, 255, 255, 100));
    root->addSublayer(title);
    const Composition composition =
        compositor.compose(*root->snapshot(), HostTime(0.0), {3840, 2160});
    ASSERT_EQ(composition.ops.size(), 3u);  // black, picture, title
    const int bands = drawingBands(2160, 4);
    for (int band = 0; band < bands; ++band) {
        const int top = 2160 * band / bands;
        const int bottom = 2160 * (band + 1) / bands;
        EXPECT_EQ(composition.coveringOp(QRect(0, top, 3840, bottom - top)), 1u) << band;
    }
}

// Enough bands that a thread held up by other work delays a quarter of its share at most, and
// none so thin that setting it up costs more than drawing it.
TEST(DrawingBands, GivesEachThreadSeveralBandsOfAtLeast64Rows) {
    struct Case {
        int height;
        int threads;
    };
    const Case cases[] = {{2160, 4}, {2160, 8}, {1080, 4}, {1080, 8}, {720, 2},
                          {36, 4},   {64, 1},   {1, 8},    {2160, 1}, {2160, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.height << " rows, " << c.threads << " threads");
        const int bands = drawingBands(c.height, c.threads);
        EXPECT_GE(bands, 1);
        EXPECT_TRUE(c.height / bands >= 64 || bands == 1);
        EXPECT_TRUE(bands >= 4 * c.threads || c.height / (bands + 1) < 64);
    }
}

TEST_F(CompositorTest, RenderingIntoTheSameImageReusesItsMemory) {
    auto root = makeRoot(64, 36);
    addSolid(*root, {0, 0, 64, 36}, QColor(200, 100, 50));
    QImage target;
    compositor.render(*root, HostTime(0.0), {64, 36}, target);
    const uchar* bits = target.constBits();
    compositor.render(*root, HostTime(1.0), {64, 36}, target);
    EXPECT_EQ(target.constBits(), bits);
    EXPECT_EQ(target.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(at(target, 1, 1), QColor(200, 100, 50));
}

}  // namespace
}  // namespace kestio::platform
