// Two LayerViews showing one published tree at the same size: one drawing per refresh between
// them, each view with its own presenter and records, both painting the same pixels.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "platform/graphics/shared_compositions.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/ui/layer_view.h"

namespace kestio::platform {
namespace {

constexpr double kWait = 10.0;  // seconds of real time, generous
constexpr double kRate = 64.0;

// A new flat picture every refresh, its red level the refresh's number; like a player, the
// same image (by identity) for as long as it is shown.
class ChangingPictures final : public FrameSource {
  public:
    ChangingPictures() {
        for (int n = 0; n < 16; ++n) {
            QImage frame(64, 36, QImage::Format_RGB32);
            frame.fill(QColor(n, 80, 160));
            pictures_.push_back(frame);
        }
    }
    QImage frameAt(HostTime time) const override {
        return pictures_[std::size_t(time.seconds() * kRate) % pictures_.size()];
    }

  private:
    std::vector<QImage> pictures_;
};

TEST(LayerViewsOfOneTree, ViewsOfOneSizeDrawEachRefreshOnce) {
    ManualRunLoop loop;
    auto root = Layer::create(loop);
    root->setFrame({0, 0, 1920, 1080});  // the program's size, set by the tree's owner
    auto player = Layer::create(loop);
    player->setFrame(root->frame());
    player->setFrameSource(std::make_shared<ChangingPictures>());
    root->addSublayer(player);
    SnapshotPublisher publisher(loop);
    publisher.setRoot(root);
    auto shared = std::make_shared<SharedCompositions>();

    LayerView output(loop);
    LayerView monitor(loop);
    for (LayerView* view : {&output, &monitor}) {
        view->showPublishedTree(publisher.slot(), shared);
        view->setFrameRate(kRate);
        view->resize(320, 180);
        view->show();
    }
    EXPECT_EQ(root->frame(), (RectF{0, 0, 1920, 1080}));  // the views leave it alone

    constexpr std::uint64_t kRefreshes = 6;
    for (std::uint64_t refresh = 1; refresh <= kRefreshes; ++refresh) {
        ASSERT_TRUE(output.presenter().waitForRefresh(refresh, kWait));
        ASSERT_TRUE(monitor.presenter().waitForRefresh(refresh, kWait));
        if (refresh < kRefreshes) {
            loop.advance(1.0 / kRate);
        }
    }
    output.hide();
    monitor.hide();
    std::vector<int> drawings(kRefreshes + 1, 0);
    for (LayerView* view : {&output, &monitor}) {
        for (const RefreshRecord& record : view->presenter().takeRecords()) {
            ASSERT_LE(record.refresh, kRefreshes);
            drawings[record.refresh] += record.drawn ? 1 : 0;
        }
    }
    for (std::uint64_t refresh = 1; refresh <= kRefreshes; ++refresh) {
        EXPECT_EQ(drawings[refresh], 1) << "refresh " << refresh;
    }
    const QImage shown = output.presenter().newestFrame().image;
    ASSERT_EQ(shown.size(), QSize(320, 180) * output.devicePixelRatioF());
    EXPECT_EQ(shown.cacheKey(), monitor.presenter().newestFrame().image.cacheKey());
    EXPECT_EQ(shown.pixelColor(160, 90), QColor(int(kRefreshes), 80, 160));
}

}  // namespace
}  // namespace kestio::platform
