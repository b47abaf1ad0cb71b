#include "platform/ui/layer_view.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <vector>

#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform {
namespace {

class RecordingFrameSource final : public FrameSource {
  public:
    QImage frameAt(double runLoopTime) const override {
        times.push_back(runLoopTime);
        QImage frame(40, 30, QImage::Format_RGB32);  // 4:3
        frame.fill(QColor(0, 160, 255));
        return frame;
    }
    mutable std::vector<double> times;
};

class LayerViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = Layer::create(loop);
        root->setBackgroundColor(QColor(Qt::black));
        player = Layer::create(loop);
        player->setFrameSource(source);
        root->addSublayer(player);
        view.onLayout = [this](SizeF size) {
            layouts.push_back(size);
            player->setFrame({0, 0, size.width, size.height});
        };
        view.setRootLayer(root);
        view.resize(320, 180);
        view.show();
    }
    static void deliverEvents() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    ManualRunLoop loop{5.0};
    std::shared_ptr<Layer> root;
    std::shared_ptr<Layer> player;
    std::shared_ptr<RecordingFrameSource> source = std::make_shared<RecordingFrameSource>();
    std::vector<SizeF> layouts;
    LayerView view{loop};
};

TEST_F(LayerViewTest, TheRootFollowsTheSizeAndTheLayoutPassRunsAfter) {
    EXPECT_EQ(root->frame(), (RectF{0, 0, 320, 180}));
    ASSERT_FALSE(layouts.empty());
    EXPECT_EQ(layouts.back(), (SizeF{320, 180}));
    view.resize(640, 480);
    EXPECT_EQ(root->frame(), (RectF{0, 0, 640, 480}));
    EXPECT_EQ(layouts.back(), (SizeF{640, 480}));
}

TEST_F(LayerViewTest, ShowsTheRenderedTree) {
    const QImage shot = view.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(320, 180) * view.devicePixelRatioF());
    EXPECT_EQ(shot.pixelColor(10, 90), QColor(Qt::black));  // 4:3 in 16:9: bars of 40
    EXPECT_EQ(shot.pixelColor(40, 90), QColor(0, 160, 255));
    EXPECT_EQ(shot.pixelColor(279, 90), QColor(0, 160, 255));
    EXPECT_EQ(shot.pixelColor(280, 90), QColor(Qt::black));
    ASSERT_FALSE(source->times.empty());
    EXPECT_EQ(source->times.back(), 5.0);
}

TEST_F(LayerViewTest, RepaintsOnEveryDisplayFrameWhileShown) {
    view.setFrameRate(50.0);
    EXPECT_EQ(view.frameRate(), 50.0);
    deliverEvents();
    source->times.clear();
    for (int frame = 1; frame <= 3; ++frame) {
        loop.advance(0.02);
        deliverEvents();
        ASSERT_FALSE(source->times.empty()) << "frame " << frame;
        EXPECT_DOUBLE_EQ(source->times.back(), 5.0 + 0.02 * frame);
    }
    view.hide();
    EXPECT_EQ(loop.pendingCount(), 0u);  // no ticks while hidden
}

TEST(LayerView, WithoutATreeShowsBlackAndFollowsTheScreenRate) {
    ManualRunLoop loop;
    LayerView view(loop);
    view.resize(20, 10);
    EXPECT_EQ(view.grab().toImage().pixelColor(5, 5), QColor(Qt::black));
    EXPECT_GT(view.frameRate(), 0.0);
    view.setFrameRate(-3.0);  // nonsense falls back to the screen's rate
    EXPECT_GT(view.frameRate(), 0.0);
}

}  // namespace
}  // namespace kestio::platform
