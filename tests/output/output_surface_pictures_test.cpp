// The output surface on the real media classes and a null audio device: generated clips and
// stills, the surface's whole layer tree composed into pictures and read back by frame number
// and colour.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cmath>

#include "output/output_surface.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/media/decoded_player_item.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"

namespace kestio::output {
namespace {

using platform::media::DecodedPlayerItem;
using platform::media::testing::runUntil;
using platform::media::testing::waitForDecoded;

constexpr QSize kView{320, 180};

class OutputSurfacePictures : public ::testing::Test {
  protected:
    OutputSurfacePictures() {
        surface.setViewSize({double(kView.width()), double(kView.height())});
    }

    QImage composed() { return compositor.render(*surface.rootLayer(), loop.now(), kView); }

    // Loads `path` into `slot` and waits until its first picture (or the one at `at`) is decoded.
    void loadReady(PlaybackSlot& slot, const std::filesystem::path& path, double at = 0.0,
                   const ColorSettings& colors = {}) {
        slot.load(path, 0.0, std::nullopt, colors);
        auto item = std::dynamic_pointer_cast<DecodedPlayerItem>(slot.player()->current());
        ASSERT_TRUE(item);
        ASSERT_TRUE(runUntil(
            loop, [&] { return item->statusValue() != platform::media::ItemStatus::Unknown; }));
        if (at > 0.0) {
            bool landed = false;
            slot.player()->seek(at, 0.0, 0.0, [&landed](bool) { landed = true; });
            ASSERT_TRUE(runUntil(loop, [&] { return landed; }));
        }
        ASSERT_TRUE(waitForDecoded(loop, *item, item->currentTime()));
        ASSERT_TRUE(runUntil(loop, [&] { return slot.playerLayer().readyForDisplay(); }));
    }

    static QImage solid(QColor colour) {
        QImage image(160, 90, QImage::Format_RGB32);
        image.fill(colour);
        return image;
    }

    platform::ManualRunLoop loop;
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock());
    platform::media::DecodedMediaFactory media{loop};
    OutputSurface surface{OutputSurface::Services{loop, device, media}};
    platform::Compositor compositor;
};

// After a cut the very next picture is the new clip's first, corrected: never black, never the
// old clip.
TEST_F(OutputSurfacePictures, ACutShowsTheNewClipsFirstPictureAtOnce) {
    const auto& clip = test::mediaFixtures().rateClip({30, 1});
    loadReady(surface.slotA(), clip.path, 1.0);
    surface.prepareForPlay(true);
    ColorSettings grey;
    grey.saturation = 0.0f;
    loadReady(surface.slotB(), clip.path, 0.0, grey);

    const QImage before = composed();
    ASSERT_EQ(test::readFrameNumber(before), 30);
    surface.cut(surface.slotB());
    const QImage after = composed();
    EXPECT_EQ(test::readFrameNumber(after), 0);
    const QRgb quadrant = after.pixel(80, 110);  // the red quadrant, below the number strip
    EXPECT_GT(qRed(quadrant), 40);
    EXPECT_NEAR(qRed(quadrant), qGreen(quadrant), 2) << "the first picture is uncorrected";
    EXPECT_NEAR(qGreen(quadrant), qBlue(quadrant), 2);
    loop.runPending();
    EXPECT_EQ(test::readFrameNumber(composed()), 0);
}

// The dissolve's midpoint mixes both pictures half and half; its ends show one picture each.
TEST_F(OutputSurfacePictures, TheDissolveMidpointMixesHalfAndHalf) {
    for (const bool toB : {true, false}) {
        SCOPED_TRACE(toB ? "to B" : "to A");
        surface.stopAll();
        PlaybackSlot& from = toB ? surface.slotA() : surface.slotB();
        PlaybackSlot& to = toB ? surface.slotB() : surface.slotA();
        if (toB) {
            surface.prepareForPlay(true);
        } else {
            surface.cut(surface.slotB());
        }
        from.showStill(solid(QColor(200, 0, 0)), {});
        to.showStill(solid(QColor(0, 0, 100)), {});
        ASSERT_EQ(composed().pixel(160, 90), qRgb(200, 0, 0));
        const auto start = loop.now();
        surface.dissolve(to, 2.0);
        EXPECT_EQ(composed().pixel(160, 90), qRgb(200, 0, 0));
        loop.advance(start + 1.0 - loop.now());
        const QRgb mid = composed().pixel(160, 90);
        EXPECT_NEAR(qRed(mid), 100, 1);
        EXPECT_EQ(qGreen(mid), 0);
        EXPECT_NEAR(qBlue(mid), 50, 1);
        loop.advance(1.5);
        EXPECT_EQ(composed().pixel(160, 90), qRgb(0, 0, 100));
    }
}

}  // namespace
}  // namespace kestio::output
