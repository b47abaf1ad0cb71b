// Several views of one layer tree: each composes at its own size, straight from the picture,
// and views of one size draw each picture once between them.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "platform/graphics/layer.h"
#include "platform/graphics/presenter.h"
#include "platform/graphics/shared_compositions.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"

namespace kestio::platform {
namespace {

constexpr double kWait = 10.0;  // seconds of real time, generous
constexpr double kRate = 64.0;  // refreshes and pictures per second (a period exact in binary)
constexpr QSize kFull(3840, 2160);
constexpr QSize kPanel(547, 308);  // the player panel's picture

// A picture per refresh carrying its number in the frame-number strip: picture n (numbered
// n + 1) is shown from n / kRate on.
class NumberedPictures final : public FrameSource {
  public:
    NumberedPictures(int count, QSize size) {
        for (int n = 0; n < count; ++n) {
            pictures_.push_back(test::pictureWithFrameNumber(n + 1, size));
        }
    }
    QImage frameAt(HostTime time) const override {
        const auto n = static_cast<std::size_t>(std::floor(time.seconds() * kRate + 1e-9));
        return pictures_[std::min(n, pictures_.size() - 1)];
    }

  private:
    std::vector<QImage> pictures_;
};

// One picture, whatever the time.
class StillPicture final : public FrameSource {
  public:
    explicit StillPicture(QImage picture) : picture_(std::move(picture)) {}
    QImage frameAt(HostTime) const override { return picture_; }

  private:
    QImage picture_;
};

// A black/white checkerboard of single pixels: what bilinear shrinking turns into moire.
QImage pixelCheckerboard(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            line[x] = (x + y) % 2 == 0 ? 0xffffffffu : 0xff000000u;
        }
    }
    return picture;
}

int channelDifference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// Views of a 2160p tree (a player layer filling a black root) on one manual clock, all sharing
// drawings as the views of one tree do.
class ViewsOfOneTree : public ::testing::Test {
  protected:
    void showSource(std::shared_ptr<const FrameSource> source) {
        auto root = Layer::create(loop);
        root->setFrame({0, 0, double(kFull.width()), double(kFull.height())});
        root->setBackgroundColor(QColor(Qt::black));
        auto player = Layer::create(loop);
        player->setFrame(root->frame());
        player->setFrameSource(std::move(source));
        root->addSublayer(player);
        publisher.setRoot(root);
    }
    Presenter& addView(QSize size, bool sharing = true) {
        auto presenter = std::make_unique<Presenter>(clock);
        presenter->setSource(publisher.slot(), sharing ? shared : nullptr);
        presenter->setSize(size);
        presenter->setRefreshRate(kRate);
        views.push_back(std::move(presenter));
        return *views.back();
    }
    // Starts every view and runs `refreshes` refreshes, each composed by every view.
    void run(std::uint64_t refreshes) {
        for (auto& view : views) {
            view->start();
        }
        for (std::uint64_t refresh = 1; refresh <= refreshes; ++refresh) {
            for (auto& view : views) {
                ASSERT_TRUE(view->waitForRefresh(refresh, kWait)) << "refresh " << refresh;
            }
            if (refresh < refreshes) {
                clock->advance(1.0 / kRate);
            }
        }
        for (auto& view : views) {
            view->stop();
        }
    }

    ManualRunLoop loop;
    SnapshotPublisher publisher{loop};
    std::shared_ptr<ManualHostClock> clock = std::make_shared<ManualHostClock>();
    std::shared_ptr<SharedCompositions> shared = std::make_shared<SharedCompositions>();
    std::vector<std::unique_ptr<Presenter>> views;
};

TEST_F(ViewsOfOneTree, TwoViewsOfOneSizeDrawEachRefreshOnceAndEachKeepsItsRecords) {
    constexpr std::uint64_t kRefreshes = 12;
    showSource(std::make_shared<NumberedPictures>(int(kRefreshes) + 1, QSize(1280, 720)));
    constexpr QSize kMonitor(960, 540);
    Presenter& first = addView(kMonitor);
    Presenter& second = addView(kMonitor);
    Presenter& other = addView(kPanel);  // another size: draws its own
    run(kRefreshes);

    std::map<std::uint64_t, int> drawings;  // refresh -> drawings by the two monitors
    std::map<std::uint64_t, int> shown;     // refresh -> frame number shown
    for (Presenter* view : {&first, &second}) {
        const auto records = view->takeRecords();
        ASSERT_EQ(records.size(), kRefreshes);
        for (const RefreshRecord& record : records) {
            drawings[record.refresh] += record.drawn ? 1 : 0;
            EXPECT_FALSE(record.reused) << "refresh " << record.refresh;
            ASSERT_EQ(record.pictures.size(), 1u);
        }
    }
    for (const auto& [refresh, count] : drawings) {
        EXPECT_EQ(count, 1) << "refresh " << refresh << " drawn by both views or neither";
    }
    // Each view still has its own newest picture, the same pixels for both.
    EXPECT_EQ(first.newestFrame().image.cacheKey(), second.newestFrame().image.cacheKey());
    EXPECT_EQ(test::readFrameNumber(first.newestFrame().image), int(kRefreshes) + 1);
    for (const RefreshRecord& record : other.takeRecords()) {
        EXPECT_TRUE(record.drawn) << "refresh " << record.refresh;
    }
}

TEST_F(ViewsOfOneTree, ViewsWithoutASharedPlaceEachDraw) {
    showSource(std::make_shared<NumberedPictures>(4, QSize(1280, 720)));
    addView({960, 540}, false);
    addView({960, 540}, false);
    run(3);
    for (auto& view : views) {
        for (const RefreshRecord& record : view->takeRecords()) {
            EXPECT_TRUE(record.drawn);
        }
    }
}

// The panel-sized view composes its pixels straight from the 2160p picture; they match the
// full-size view's picture shrunk with area averaging (QImage's smooth scaling), both in the
// frame number they read and pixel by pixel within a tolerance. A picture of single-pixel
// detail comes out as its average grey, not as the moire that point or bilinear sampling makes.
TEST_F(ViewsOfOneTree, ASmallViewMatchesTheFullViewShrunk) {
    struct Case {
        const char* name;
        std::shared_ptr<const FrameSource> source;
        int expectedNumber;  // -1: no strip
    };
    const std::vector<Case> cases = {
        {"numbered", std::make_shared<NumberedPictures>(1, kFull), 1},
        {"pixel checkerboard", std::make_shared<StillPicture>(pixelCheckerboard(kFull)), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        views.clear();
        showSource(c.source);
        Presenter& full = addView(kFull);
        Presenter& panel = addView(kPanel);
        run(1);
        const QImage big = full.newestFrame().image;
        const QImage small = panel.newestFrame().image;
        ASSERT_EQ(small.size(), kPanel);
        if (c.expectedNumber >= 0) {
            EXPECT_EQ(test::readFrameNumber(big), c.expectedNumber);
            EXPECT_EQ(test::readFrameNumber(small), c.expectedNumber);
        }
        const QImage reference =
            big.scaled(kPanel, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        long long total = 0;
        int worst = 0;
        int farOff = 0;  // pixels more than 1/8 off: only where a block edge falls in a pixel
        for (int y = 0; y < kPanel.height(); ++y) {
            for (int x = 0; x < kPanel.width(); ++x) {
                const int d = channelDifference(small.pixel(x, y), reference.pixel(x, y));
                total += d;
                worst = std::max(worst, d);
                farOff += d > 32 ? 1 : 0;
            }
        }
        const double mean = double(total) / (kPanel.width() * kPanel.height());
        EXPECT_LT(mean, 2.0) << "worst " << worst;
        EXPECT_LT(farOff, kPanel.width() * kPanel.height() / 100);
    }
}

}  // namespace
}  // namespace kestio::platform
