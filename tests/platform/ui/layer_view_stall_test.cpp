// A real LayerView in the Qt event loop, on the steady clock, while the main thread is busy for
// 200 ms inside that loop: its presenter keeps composing every refresh on time with the picture
// due at that refresh; only the view's painting (a main-thread job) stops for the stall.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPaintEvent>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/runloop/qt_run_loop.h"
#include "platform/ui/layer_view.h"
#include "support/frame_number_strip.h"

namespace kestio::platform {
namespace {

constexpr double kWait = 10.0;  // seconds of real time, generous
constexpr double kRefreshRate = 60.0;
constexpr double kPictureRate = 24.0;
constexpr QSize kSize(160, 90);

double steadyNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Moving pictures on the host clock: picture n (its number drawn in the frame-number strip)
// from `start` + n / kPictureRate on. Each number has one image, handed out again and again.
class NumberedPictures final : public FrameSource {
  public:
    explicit NumberedPictures(double start) : start_(start) {
        for (int n = 0; n < kCount; ++n) {
            pictures_.push_back(test::pictureWithFrameNumber(n, kSize));
        }
    }
    int numberAt(double hostTime) const {
        const double n = std::floor((hostTime - start_) * kPictureRate);
        return static_cast<int>(std::clamp(n, 0.0, double(kCount - 1)));
    }
    const QImage& picture(int number) const { return pictures_[std::size_t(number)]; }
    QImage frameAt(HostTime hostTime) const override {
        return picture(numberAt(hostTime.seconds()));
    }

  private:
    static constexpr int kCount = 24 * 60;
    double start_;
    std::vector<QImage> pictures_;
};

// Notes when the main thread painted the view.
class PaintTimedView final : public LayerView {
  public:
    using LayerView::LayerView;
    std::vector<double> paints;

  protected:
    void paintEvent(QPaintEvent* event) override {
        paints.push_back(steadyNow());
        LayerView::paintEvent(event);
    }
};

// What another thread read from the presenter's newest picture, pixels included.
struct Sample {
    std::uint64_t refresh;
    double targetTime;
    int numberInPixels;
};

// Runs the Qt event loop until `done` holds; false after kWait seconds.
template <class Done>
bool runEventsUntil(Done done) {
    const double deadline = steadyNow() + kWait;
    while (!done()) {
        if (steadyNow() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

TEST(LayerViewStall, TheProgramKeepsItsRefreshesAndPicturesWhileTheMainThreadIsBusy) {
    QtRunLoop loop;
    const auto source = std::make_shared<NumberedPictures>(loop.now().seconds());
    auto root = Layer::create(loop);
    root->setBackgroundColor(QColor(Qt::black));
    auto player = Layer::create(loop);
    player->setFrameSource(source);
    root->addSublayer(player);
    PaintTimedView view(loop);
    view.onLayout = [&](SizeF size) { player->setFrame({0, 0, size.width, size.height}); };
    view.setRootLayer(root);
    view.setFrameRate(kRefreshRate);
    view.resize(kSize);
    view.show();
    Presenter& presenter = view.presenter();

    std::atomic<bool> sampling{true};
    std::mutex samplesMutex;
    std::vector<Sample> samples;
    std::thread sampler([&] {
        std::uint64_t next = 1;
        while (sampling.load()) {
            if (!presenter.waitForRefresh(next, 0.05)) {
                continue;
            }
            const PresentedFrame frame = presenter.newestFrame();
            const Sample sample{frame.refresh, frame.targetTime.seconds(),
                                test::readFrameNumber(frame.image)};
            std::lock_guard lock(samplesMutex);
            samples.push_back(sample);
            next = frame.refresh + 1;
        }
    });

    ASSERT_TRUE(runEventsUntil([&] { return view.paints.size() >= 10; }));
    double stallBegin = 0.0;
    double stallEnd = 0.0;
    loop.post([&] {
        stallBegin = steadyNow();
        while (steadyNow() - stallBegin < 0.2) {
            // the main thread is busy
        }
        stallEnd = steadyNow();
    });
    ASSERT_TRUE(runEventsUntil([&] {
        return stallEnd > 0.0 && !view.paints.empty() && view.paints.back() > stallEnd + 0.1;
    }));
    sampling = false;
    sampler.join();
    view.hide();
    std::vector<RefreshRecord> records = presenter.takeRecords();
    ASSERT_FALSE(records.empty());
    // A refresh composed again, from a snapshot stored before its time, counts once.
    std::erase_if(records, [](const RefreshRecord& r) { return r.recomposed; });

    // Every refresh named the picture due at its time and stayed on the display's pace; the ones
    // due during the stall were composed before their time. A loaded machine may hold the
    // presenter up now and then, so up to a quarter of those may be late; a stall that reached
    // the presenter would make every one of them late or skipped.
    const double period = 1.0 / kRefreshRate;
    int due = 0;
    int missed = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const RefreshRecord& r = records[i];
        const PictureName expected{
            source.get(), source->picture(source->numberAt(r.targetTime.seconds())).cacheKey()};
        ASSERT_EQ(r.pictures.size(), 1u) << "refresh " << r.refresh;
        EXPECT_EQ(r.pictures[0], expected) << "refresh " << r.refresh;
        if (i > 0) {
            const double steps = double(r.refresh - records[i - 1].refresh);
            EXPECT_NEAR(r.targetTime - records[i - 1].targetTime, steps * period, 1e-6);
        }
        const auto inStall = [&](double t) { return t > stallBegin && t < stallEnd; };
        if (i > 0) {
            // Refreshes skipped since the record before: never composed at all.
            const RefreshRecord& last = records[i - 1];
            for (std::uint64_t skipped = last.refresh + 1; skipped < r.refresh; ++skipped) {
                if (inStall(last.targetTime.seconds() + double(skipped - last.refresh) * period)) {
                    ++due;
                    ++missed;
                }
            }
        }
        if (inStall(r.targetTime.seconds())) {
            ++due;
            missed += r.composedAt > r.targetTime ? 1 : 0;
        }
    }
    EXPECT_GE(due, 11);
    EXPECT_LE(missed * 4, due) << missed << " of " << due << " refreshes due in the stall missed";

    // The pixels composed, read back on another thread, show the number due at each target,
    // during the stall too.
    int sampledInStall = 0;
    for (const Sample& s : samples) {
        EXPECT_EQ(s.numberInPixels, source->numberAt(s.targetTime)) << "refresh " << s.refresh;
        sampledInStall += s.targetTime > stallBegin && s.targetTime < stallEnd ? 1 : 0;
    }
    EXPECT_GE(sampledInStall, 5);

    // The view painted steadily before and after, and not at all during the stall.
    std::size_t before = 0;
    for (const double paint : view.paints) {
        EXPECT_FALSE(paint > stallBegin && paint < stallEnd) << "painted during the stall";
        before += paint <= stallBegin ? 1 : 0;
    }
    ASSERT_GE(before, 1u);
    ASSERT_LT(before, view.paints.size());
    EXPECT_GE(view.paints[before] - view.paints[before - 1], 0.19);
}

}  // namespace
}  // namespace kestio::platform
