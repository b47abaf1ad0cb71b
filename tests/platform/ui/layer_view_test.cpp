#include "platform/ui/layer_view.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <functional>
#include <mutex>

#include "platform/runloop/manual_run_loop.h"
#include "support/held_picture.h"

namespace kestio::platform {
namespace {

constexpr double kWait = 10.0;  // seconds of real time, generous

class FlatFrameSource final : public FrameSource {
  public:
    QImage frameAt(HostTime) const override {
        QImage frame(40, 30, QImage::Format_RGB32);  // 4:3
        frame.fill(QColor(0, 160, 255));
        return frame;
    }
};

// The view's presenter runs on the manual loop's clock at 50 refreshes per second from 5 s on.
class LayerViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = Layer::create(loop);
        root->setBackgroundColor(QColor(Qt::black));
        player = Layer::create(loop);
        player->setFrameSource(std::make_shared<FlatFrameSource>());
        root->addSublayer(player);
        view.onLayout = [this](SizeF size) {
            layouts.push_back(size);
            player->setFrame({0, 0, size.width, size.height});
        };
        view.setRootLayer(root);
        view.setFrameRate(50.0);
        view.resize(320, 180);
        view.show();
    }
    QImage shot() {
        QCoreApplication::sendPostedEvents();  // the presenter's repaint request
        return view.grab().toImage();
    }

    ManualRunLoop loop{HostTime(5.0)};
    std::shared_ptr<Layer> root;
    std::shared_ptr<Layer> player;
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

TEST_F(LayerViewTest, ShowsThePictureComposedForTheNextRefresh) {
    ASSERT_TRUE(view.presenter().waitForRefresh(1, kWait));
    EXPECT_DOUBLE_EQ(view.presenter().newestFrame().targetTime.seconds(), 5.02);
    const QImage image = shot();
    ASSERT_EQ(image.size(), QSize(320, 180) * view.devicePixelRatioF());
    EXPECT_EQ(image.pixelColor(10, 90), QColor(Qt::black));  // 4:3 in 16:9: bars of 40
    EXPECT_EQ(image.pixelColor(40, 90), QColor(0, 160, 255));
    EXPECT_EQ(image.pixelColor(279, 90), QColor(0, 160, 255));
    EXPECT_EQ(image.pixelColor(280, 90), QColor(Qt::black));
}

TEST_F(LayerViewTest, AChangeIsOnTheRefreshAfterItsPublicationAndHidingStopsComposing) {
    ASSERT_TRUE(view.presenter().waitForRefresh(1, kWait));
    player->setHidden(true);
    loop.runPending();  // publishes
    loop.advance(0.02);
    ASSERT_TRUE(view.presenter().waitForRefresh(2, kWait));
    EXPECT_DOUBLE_EQ(view.presenter().newestFrame().targetTime.seconds(), 5.04);
    EXPECT_EQ(shot().pixelColor(160, 90), QColor(Qt::black));

    view.hide();
    EXPECT_FALSE(view.presenter().isRunning());
    EXPECT_EQ(loop.pendingCount(), 0u);  // nothing ticks on the main thread
}

// A wait for the next picture ends with the paint of one composed after it began: painting the
// picture there was already does not end it, a later wait replaces it, and a hidden view ends it
// at once.
TEST_F(LayerViewTest, AfterNextPictureRunsOnceAPictureComposedAfterItIsPainted) {
    ASSERT_TRUE(view.presenter().waitForRefresh(1, kWait));
    shot();
    int ran = 0;
    int replaced = 0;
    view.afterNextPicture([&] { ++replaced; });
    view.afterNextPicture([&] { ++ran; });
    shot();
    EXPECT_EQ(ran, 0) << "ended by the picture there already";

    player->setHidden(true);
    loop.runPending();  // publishes
    loop.advance(0.02);
    ASSERT_TRUE(view.presenter().waitForRefresh(2, kWait));
    shot();
    shot();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(replaced, 0);

    view.hide();
    view.afterNextPicture([&] { ++ran; });
    EXPECT_EQ(ran, 2);
}

class PaintCounter final : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// Each step changes something (or nothing), then the presenter composes two refreshes: the view
// paints once when the picture changed and not at all while it stays the same.
TEST(LayerView, RepaintsOnlyWhenItsPictureChanged) {
    constexpr double kPeriod = 1.0 / 64.0;  // exact in binary: refreshes fall due exactly
    ManualRunLoop loop{HostTime(5.0)};
    auto source = std::make_shared<test::HeldPicture>();
    source->show(QColor(200, 0, 0));
    auto root = Layer::create(loop);
    root->setBackgroundColor(QColor(Qt::black));
    auto player = Layer::create(loop);
    player->setFrame({0, 0, 160, 90});
    player->setFrameSource(source);
    root->addSublayer(player);
    LayerView view(loop);
    view.setRootLayer(root);
    view.setFrameRate(1.0 / kPeriod);
    view.resize(160, 90);
    view.show();
    ASSERT_TRUE(view.presenter().waitForRefresh(1, kWait));
    loop.advance(kPeriod);  // once refresh 2 is composed, refresh 1 has asked for its repaint
    ASSERT_TRUE(view.presenter().waitForRefresh(2, kWait));
    const auto deliver = [] {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    };
    deliver();
    PaintCounter counter;
    view.installEventFilter(&counter);

    struct Step {
        const char* name;
        std::function<void()> change;
        int paints;
    };
    const Step steps[] = {
        {"nothing changed", [] {}, 0},
        {"still nothing", [] {}, 0},
        {"a new picture", [&] { source->show(QColor(0, 0, 200)); }, 1},
        {"the same picture", [] {}, 0},
        {"the layer hidden", [&] { player->setHidden(true); }, 1},
        {"nothing again", [] {}, 0},
    };
    std::uint64_t refresh = 2;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        counter.paints = 0;
        step.change();
        loop.advance(kPeriod);  // publishes the change; its refresh is composed
        loop.advance(kPeriod);  // once the refresh after it is, the first one's call has ended
        refresh += 2;
        ASSERT_TRUE(view.presenter().waitForRefresh(refresh, kWait));
        deliver();
        EXPECT_EQ(counter.paints, step.paints);
    }
    EXPECT_EQ(view.grab().toImage().pixelColor(80, 45), QColor(Qt::black));
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
