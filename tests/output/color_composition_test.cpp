// Colour correction of decoded clips: generated files through the real player, its items and
// its frame filter.

#include <gtest/gtest.h>

#include <QColor>
#include <atomic>
#include <chrono>
#include <thread>

#include "output/color_settings_box.h"
#include "output/video_color_compositor.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"

namespace kestio::output {
namespace {

using platform::media::testing::advanceDecoded;
using platform::media::testing::loadPlayer;

// The middle of each quadrant of the test picture (320x180), below the frame-number strip.
const QPoint kQuadrantCentres[] = {{80, 110}, {240, 110}, {80, 150}, {240, 150}};

class ColorCompositionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto& clip = test::mediaFixtures().rateClip({30, 1});
        loaded = loadPlayer(loop, clip.path);
        ASSERT_EQ(loaded.item->statusValue(), platform::media::ItemStatus::ReadyToPlay);
        grey.saturation = 0;
        noRed.redGain = 0;
    }
    QImage shown() const { return loaded.player->frameAt(loop.now()); }

    platform::ManualRunLoop loop;
    platform::media::testing::LoadedPlayer loaded;
    VideoColorCompositor compositor{loop};
    ColorSettingsBox box;
    ColorSettings grey;
    ColorSettings noRed;
};

// The decoded picture, corrected: paused on the first frame and while playing, every composed
// picture is the correction of what was decoded, with its frame number still readable.
TEST_F(ColorCompositionTest, PlayedPicturesAreCorrectedFrameByFrame) {
    const QImage decoded = shown();
    ASSERT_EQ(test::readFrameNumber(decoded), 0);

    box.setValue(grey);
    auto following = compositor.compose(loaded.player, box);
    QImage picture = shown();
    EXPECT_EQ(picture, compositor.applyColorSettings(decoded, grey));
    EXPECT_EQ(test::readFrameNumber(picture), 0);
    for (const auto& p : kQuadrantCentres) {
        const QRgb c = picture.pixel(p);
        EXPECT_EQ(qRed(c), qGreen(c)) << "at " << p.x() << ", " << p.y();
        EXPECT_EQ(qGreen(c), qBlue(c)) << "at " << p.x() << ", " << p.y();
    }

    loaded.player->setRate(1.0f);
    advanceDecoded(loop, *loaded.player, 0.5);
    picture = shown();
    const int frame = test::readFrameNumber(picture);
    EXPECT_GE(frame, 14);
    EXPECT_LE(frame, 16);

    // A change while playing shows on the next picture: red is gone from all of it.
    box.setValue(noRed);
    // A frame and a half: the next picture, whatever side of a frame's edge the clock stood on.
    advanceDecoded(loop, *loaded.player, 1.5 / 30.0);
    picture = shown();
    EXPECT_GT(test::readFrameNumber(picture), frame);
    int reddest = 0;
    for (int y = 0; y < picture.height(); y += 4) {
        for (int x = 0; x < picture.width(); x += 4) {
            reddest = std::max(reddest, qRed(picture.pixel(x, y)));
        }
    }
    EXPECT_EQ(reddest, 0);
    const QRgb topRight = picture.pixel(kQuadrantCentres[1]);
    EXPECT_GT(qGreen(topRight), 200) << "the green quadrant keeps its green";
}

// Views compose on threads of their own while the main thread changes the settings: each
// picture they get is corrected by one whole set of values, the old or the new.
TEST_F(ColorCompositionTest, ViewsOnOtherThreadsSeeOneSetOrTheOther) {
    const QImage decoded = shown();
    const QRgb asGrey = compositor.applyColorSettings(decoded, grey).pixel(kQuadrantCentres[0]);
    const QRgb asNoRed = compositor.applyColorSettings(decoded, noRed).pixel(kQuadrantCentres[0]);
    ASSERT_NE(asGrey, asNoRed);

    box.setValue(grey);
    auto following = compositor.compose(loaded.player, box);
    const platform::HostTime hostTime = loop.now();
    std::atomic<bool> done{false};
    std::atomic<int> pictures{0};
    std::atomic<int> mixed{0};
    std::thread view([&] {
        while (!done.load()) {
            const QRgb c = loaded.player->frameAt(hostTime).pixel(kQuadrantCentres[0]);
            if (c != asGrey && c != asNoRed) {
                ++mixed;
            }
            ++pictures;
        }
    });
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pictures.load() == 0 && std::chrono::steady_clock::now() < guard) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 200; ++i) {
        box.setValue(i % 2 == 0 ? noRed : grey);
    }
    done = true;
    view.join();
    EXPECT_GT(pictures.load(), 0);
    EXPECT_EQ(mixed.load(), 0);
}

}  // namespace
}  // namespace kestio::output
