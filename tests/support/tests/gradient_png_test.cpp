// The thumbnail maker of the grid tests and panel benchmarks: a PNG that decodes to a picture of
// the size asked for, running from the first colour at the start to the second at the end.

#include <gtest/gtest.h>

#include <QImage>

#include "support/gradient_png.h"

namespace kestio::test {
namespace {

TEST(GradientPNG, DecodesToTheGradientAskedFor) {
    struct Case {
        QSize size;
        QPointF end;
        QPoint last;  // the pixel nearest the end
    };
    const QColor from(200, 40, 10);
    const QColor to(10, 60, 220);
    for (const auto& c :
         {Case{{64, 36}, {0, 36}, {0, 35}}, Case{{320, 180}, {320, 180}, {319, 179}}}) {
        const auto bytes = gradientPNG(c.size, {0, 0}, c.end, from, to);
        const QImage image = QImage::fromData(bytes.data(), int(bytes.size()), "PNG");
        ASSERT_EQ(image.size(), c.size);
        for (const auto& [pixel, colour] : {std::pair{QPoint(0, 0), from}, std::pair{c.last, to}}) {
            const QColor got = image.pixelColor(pixel);
            EXPECT_NEAR(got.red(), colour.red(), 8) << pixel.x() << "," << pixel.y();
            EXPECT_NEAR(got.green(), colour.green(), 8) << pixel.x() << "," << pixel.y();
            EXPECT_NEAR(got.blue(), colour.blue(), 8) << pixel.x() << "," << pixel.y();
        }
    }
}

}  // namespace
}  // namespace kestio::test
