#include "platform/ui/layer_presentation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform {
namespace {

constexpr double kWait = 10.0;  // seconds of real time, generous

// A rate asked for is kept; nonsense or 0 follows the screen, and without a screen that is 60.
TEST(LayerPresentation, TheFrameRateIsTheOneAskedForOrTheScreens) {
    struct Case {
        double asked;
        double expected;
    };
    const Case cases[] = {
        {25.0, 25.0},
        {0.0, 60.0},
        {-3.0, 60.0},
        {std::numeric_limits<double>::quiet_NaN(), 60.0},
        {std::numeric_limits<double>::infinity(), 60.0},
        {120.0, 120.0},
    };
    ManualRunLoop loop;
    LayerPresentation presentation(loop);
    EXPECT_EQ(presentation.frameRate(nullptr), 60.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        presentation.setFrameRate(c.asked, nullptr);
        EXPECT_EQ(presentation.frameRate(nullptr), c.expected);
    }
}

// A new size reaches the composed picture with the layout made for it: the layout pass sees the
// root at the new size, and the first picture composed at the new pixel size already shows what
// the pass moved (a blue layer stretched over the root's left half), with no step of the run loop.
TEST(LayerPresentation, TheFirstPictureAtANewSizeShowsItsLayout) {
    ManualRunLoop loop{HostTime(5.0)};
    auto root = Layer::create(loop);
    root->setBackgroundColor(QColor(Qt::black));
    auto picture = Layer::create(loop);
    picture->setBackgroundColor(QColor(0, 160, 255));
    picture->setFrame({0, 0, 40, 30});
    root->addSublayer(picture);

    LayerPresentation presentation(loop);
    presentation.setRootLayer(root, {40, 30});
    EXPECT_EQ(root->frame(), (RectF{0, 0, 40, 30}));
    presentation.setFrameRate(50.0, nullptr);
    presentation.start({40, 30}, nullptr);
    ASSERT_TRUE(presentation.presenter().waitForRefresh(1, kWait));
    EXPECT_EQ(presentation.presenter().newestFrame().image.size(), QSize(40, 30));

    RectF rootSeen;
    presentation.resize({80, 60}, {80, 60}, [&](SizeF size) {
        rootSeen = root->frame();
        picture->setFrame({0, 0, size.width / 2, size.height});
    });
    EXPECT_EQ(rootSeen, (RectF{0, 0, 80, 60}));
    // The clock moves on while the run loop's thread is busy: nothing posted is published.
    loop.stall(0.02);
    ASSERT_TRUE(presentation.presenter().waitForRefresh(2, kWait));
    const QImage image = presentation.presenter().newestFrame().image;
    ASSERT_EQ(image.size(), QSize(80, 60));
    EXPECT_EQ(image.pixelColor(20, 50), QColor(0, 160, 255));  // below the old picture
    EXPECT_EQ(image.pixelColor(60, 10), QColor(Qt::black));
    presentation.presenter().stop();
}

}  // namespace
}  // namespace kestio::platform
