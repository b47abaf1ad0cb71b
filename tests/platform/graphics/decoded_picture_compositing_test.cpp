#include <gtest/gtest.h>

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/graphics/compositor.h"
#include "platform/graphics/picture_downscale.h"
#include "platform/graphics/yuv_picture.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/yuv_pictures.h"

namespace kestio::platform {
namespace {

// A player's picture kept as decoded, as the compositor takes it.
class DecodedSource final : public FrameSource {
  public:
    explicit DecodedSource(Picture picture) : picture_(std::move(picture)) {}
    QImage frameAt(HostTime) const override { return picture_.toImage(); }
    Picture pictureAt(HostTime) const override { return picture_; }

  private:
    Picture picture_;
};

struct DrawCase {
    const char* name;
    QSize view;       // the composed image, root layer bounds the same
    RectF placement;  // the picture's layer, in root coordinates (y upward)
    float opacity;
};

void PrintTo(const DrawCase& c, std::ostream* out) {
    *out << c.name;
}

// The largest difference of any channel between `a` and `b` within `area`, and outside it the
// largest difference of `a` from opaque black.
struct Difference {
    int inside = 0;
    int outside = 0;
};

Difference compare(const QImage& a, const QImage& b, QRect area) {
    Difference d;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = area.contains(x, y) ? b.pixel(x, y) : qRgb(0, 0, 0);
            const int worst =
                std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            int& into = area.contains(x, y) ? d.inside : d.outside;
            into = std::max(into, worst);
        }
    }
    return d;
}

class DecodedPictureDrawing : public testing::TestWithParam<DrawCase> {};

// A picture kept as decoded composes as the same picture converted first and drawn as an image
// would: drawn pixel for pixel its rows land where the layer is, band after band of the
// composition (a row or column off shows as a difference all along a smooth picture's edge);
// faded, scaled up or shrunk for a small view it goes through the image paths, and so the same
// filters. Around it the black of the root shows.
TEST_P(DecodedPictureDrawing, ShowsAsThePictureConvertedFirstWould) {
    const DrawCase& c = GetParam();
    ManualRunLoop loop;
    WorkerPool pool(3);
    Compositor compositor(pool);
    const Picture picture(test::smoothYuvPicture({321, 181}, 7));
    const QImage converted = picture.toImage(pool);

    // The picture in a player layer placed as the case says, over the root's black.
    const auto composed = [&](const Picture& shown) {
        auto root = Layer::create(loop);
        root->setFrame({0, 0, double(c.view.width()), double(c.view.height())});
        root->setBackgroundColor(QColor(Qt::black));
        root->setMasksToBounds(true);
        auto player = Layer::create(loop);
        player->setFrame(c.placement);
        player->setVideoGravity(Gravity::Resize);
        player->setOpacity(c.opacity);
        player->setFrameSource(std::make_shared<DecodedSource>(shown));
        root->addSublayer(player);
        return compositor.render(*root, loop.now(), c.view);
    };
    const QImage decoded = composed(picture);
    // The reference: the converted image drawn by the compositor's own rules for images.
    const QImage reference = composed(Picture(converted));

    const QRect area(int(c.placement.x), int(c.view.height() - c.placement.y - c.placement.height),
                     int(c.placement.width), int(c.placement.height));
    const Difference d = compare(decoded, reference, area.intersected(decoded.rect()));
    // Shrinking averages the planes before converting, not the colours after: the two differ by
    // the rounding of both, and where a colour lies outside what RGB holds, by its clipping
    // before or after the average.
    const bool shrunk = needsDownscale(QSizeF(picture.size()), area.size());
    EXPECT_LE(d.inside, shrunk ? 4 : 0);
    EXPECT_EQ(d.outside, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, DecodedPictureDrawing,
    testing::Values(DrawCase{"PixelForPixelAtTheCorner", {321, 181}, {0, 0, 321, 181}, 1.0f},
                    DrawCase{"PixelForPixelWithBarsAround", {400, 300}, {37, 61, 321, 181}, 1.0f},
                    DrawCase{"Faded", {400, 300}, {37, 61, 321, 181}, 0.4f},
                    DrawCase{"CutByTheView", {300, 150}, {-20, -10, 321, 181}, 1.0f},
                    DrawCase{"ScaledUp", {640, 360}, {0, 0, 482, 272}, 1.0f},
                    DrawCase{"ShrunkForASmallView", {160, 90}, {10, 5, 100, 56}, 1.0f}),
    [](const testing::TestParamInfo<DrawCase>& param) { return std::string(param.param.name); });

// A presenter knows a picture by its key: the same decoded picture composes to the same drawing
// and a new one, even of the same planes, to another.
TEST(DecodedPictureDrawing, IsKnownByItsKey) {
    ManualRunLoop loop;
    Compositor compositor;
    const auto make = [] { return test::smoothYuvPicture({64, 36}, 3); };
    const Picture first(make());
    const Picture again = first;
    const Picture other(make());
    const auto compose = [&](const Picture& picture) {
        auto root = Layer::create(loop);
        root->setFrame({0, 0, 64, 36});
        root->setFrameSource(std::make_shared<DecodedSource>(picture));
        return compositor.compose(*root->snapshot(), loop.now(), {64, 36});
    };
    EXPECT_TRUE(compose(first).drawsTheSameAs(compose(again)));
    EXPECT_FALSE(compose(first).drawsTheSameAs(compose(other)));
    ASSERT_EQ(compose(first).pictures.size(), 1u);
    EXPECT_EQ(compose(first).pictures[0].picture, first.key());
}

}  // namespace
}  // namespace kestio::platform
