#include "output/video_color_compositor.h"

#include <gtest/gtest.h>

#include <QColor>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "output/color_settings_box.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/console.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/fake_media.h"

namespace kestio::output {
namespace {

using platform::media::QueuePlayer;

// The sRGB transfer curve (IEC 61966-2-1), written out here so that expected pixels do not
// come from the code under test.
double decode(int code) {
    const double v = code / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
int encode(double linear) {
    const double v = std::clamp(linear, 0.0, 1.0);
    const double e = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    return int(std::lround(e * 255.0));
}

QImage solid(QRgb colour, int width = 8, int height = 4) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Within one 8-bit step per channel: the colour step's stated accuracy.
void expectPixel(QRgb actual, int red, int green, int blue, const std::string& what) {
    EXPECT_NEAR(qRed(actual), red, 1) << what;
    EXPECT_NEAR(qGreen(actual), green, 1) << what;
    EXPECT_NEAR(qBlue(actual), blue, 1) << what;
}

class VideoColorCompositorTest : public ::testing::Test {
  protected:
    platform::ManualRunLoop loop;
    VideoColorCompositor compositor{loop};
};

// Each step against values worked out by hand from the filters' definitions.
TEST_F(VideoColorCompositorTest, EachStepCorrectsAsItsDefinitionSays) {
    const double red = decode(200), green = decode(100), blue = decode(50);
    const QRgb source = qRgb(200, 100, 50);
    const double luma = 0.2125 * red + 0.7154 * green + 0.0721 * blue;
    struct Case {
        const char* name;
        ColorSettings settings;
        double r, g, b;  // linear light expected
    };
    ColorSettings grey;
    grey.saturation = 0;
    ColorSettings brighter;
    brighter.brightness = 0.1f;
    ColorSettings contrast;
    contrast.contrast = 1.5f;
    ColorSettings gamma;
    gamma.gamma = 2;
    ColorSettings gains;
    gains.redGain = 1.5f;
    gains.blueGain = 0.5f;
    const Case cases[] = {
        {"saturation 0", grey, luma, luma, luma},
        {"brightness 0.1", brighter, red + 0.1, green + 0.1, blue + 0.1},
        {"contrast 1.5", contrast, (red - 0.5) * 1.5 + 0.5, (green - 0.5) * 1.5 + 0.5,
         (blue - 0.5) * 1.5 + 0.5},
        {"gamma 2", gamma, red * red, green * green, blue * blue},
        {"red 1.5, blue 0.5", gains, red * 1.5, green, blue * 0.5},
    };
    for (const auto& c : cases) {
        const QImage out = compositor.applyToStill(solid(source), c.settings);
        expectPixel(out.pixel(3, 2), encode(c.r), encode(c.g), encode(c.b), c.name);
        EXPECT_EQ(out.size(), QSize(8, 4)) << c.name;
    }
}

// Hue 180 turns pure red to (-1/3, 2/3, 2/3) in linear light, clamped to (0, 2/3, 2/3); a
// third of a turn takes red to green; greys stay.
TEST_F(VideoColorCompositorTest, HueTurnsAboutTheGreyAxis) {
    ColorSettings half;
    half.hue = 180;
    expectPixel(compositor.applyToStill(solid(qRgb(255, 0, 0)), half).pixel(0, 0), 0,
                encode(2.0 / 3.0), encode(2.0 / 3.0), "hue 180 on red");
    ColorSettings third;
    third.hue = 120;
    expectPixel(compositor.applyToStill(solid(qRgb(255, 0, 0)), third).pixel(0, 0), 0, 255, 0,
                "hue 120 on red");
    expectPixel(compositor.applyToStill(solid(qRgb(90, 90, 90)), half).pixel(0, 0), 90, 90, 90,
                "hue 180 on grey");
}

// At the defaults nothing runs: a still is the very same image; one value off its default
// runs the chain even where its own result is neutral.
TEST_F(VideoColorCompositorTest, DefaultsLeaveEverythingAsItIs) {
    const QImage still = solid(qRgb(12, 34, 56));
    const QImage same = compositor.applyToStill(still, ColorSettings{});
    EXPECT_EQ(same.constBits(), still.constBits()) << "not the same image";
    EXPECT_EQ(compositor.frameFilter(ColorSettings{}), nullptr);
    EXPECT_TRUE(VideoColorCompositor::filterChain(ColorSettings{}).isIdentity());

    ColorSettings tiny;
    tiny.greenGain = 1.0001f;
    EXPECT_FALSE(VideoColorCompositor::isDefault(tiny));
    ASSERT_NE(compositor.frameFilter(tiny), nullptr);
    EXPECT_NE(compositor.applyToStill(still, tiny).constBits(), still.constBits());
    EXPECT_TRUE(compositor.applyToStill(QImage(), tiny).isNull());
}

// Values no panel gives (from a hand-edited document, or not numbers at all) still give a
// picture of the same size, never a crash.
TEST_F(VideoColorCompositorTest, ExtremeValuesGiveAPictureOfTheSameSize) {
    const float huge = 1e30f;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const ColorSettings cases[] = {
        {huge, huge, huge, huge, huge, huge, huge, huge},
        {-huge, -huge, -huge, -huge, 1e-30f, -huge, 0, huge},
        {nan, nan, nan, nan, nan, nan, nan, nan},
        {inf, -inf, inf, inf, -inf, inf, -inf, inf},
    };
    const QImage picture = solid(qRgb(200, 100, 50), 64, 8);
    for (const auto& settings : cases) {
        const QImage out = compositor.applyToStill(picture, settings);
        EXPECT_EQ(out.size(), picture.size());
        ASSERT_NE(compositor.frameFilter(settings), nullptr);
        EXPECT_EQ((*compositor.frameFilter(settings))(picture).size(), picture.size());
    }
}

// A player of scripted media, ready and paused at its first picture.
class ComposeTest : public VideoColorCompositorTest {
  protected:
    void SetUp() override {
        player = factory.makeQueuePlayer();
        brighter.brightness = 0.2f;
        darker.brightness = -0.2f;
    }
    void insertClip() {
        ASSERT_TRUE(player->insert(factory.makeItem(factory.makeAsset("clip.mov"))));
        loop.advance(0.5);
        ASSERT_FALSE(player->frameAt(loop.now()).isNull());
    }
    // The grey of the fake pictures, as composed now.
    QRgb shown() const { return player->frameAt(loop.now()).pixel(8, 4); }
    QRgb expected(const ColorSettings& settings) const {
        return compositor.applyToStill(test::fakeFramePicture({0, 0}), settings).pixel(8, 4);
    }

    test::FakeMediaFactory factory{loop};
    std::shared_ptr<QueuePlayer> player;
    ColorSettingsBox box;
    ColorSettings brighter;
    ColorSettings darker;
};

// The filter is on the player when compose returns, before its completion has run; the
// completion runs once, on the main loop.
TEST_F(ComposeTest, TheFilterIsInPlaceBeforeTheCompletion) {
    insertClip();
    const QRgb decoded = shown();
    box.setValue(brighter);
    int completions = 0;
    QRgb atCompletion = 0;
    auto following = compositor.compose(player, box, [&] {
        ++completions;
        atCompletion = shown();
    });
    EXPECT_EQ(shown(), expected(brighter));
    EXPECT_NE(shown(), decoded);
    EXPECT_EQ(completions, 0) << "the completion ran inside compose";
    loop.runPending();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(atCompletion, expected(brighter));
}

// A clip inserted after compose shows corrected from its very first picture.
TEST_F(ComposeTest, AClipsFirstPictureIsCorrected) {
    box.setValue(darker);
    auto following = compositor.compose(player, box);
    ASSERT_TRUE(player->insert(factory.makeItem(factory.makeAsset("clip.mov"))));
    std::optional<QRgb> first;
    while (!first && loop.now() < platform::HostTime(1.0)) {
        loop.advance(1.0 / 120.0);
        const QImage picture = player->frameAt(loop.now());
        if (!picture.isNull()) {
            first = picture.pixel(8, 4);
        }
    }
    ASSERT_TRUE(first) << "no picture within a second";
    EXPECT_EQ(*first, expected(darker));
}

// Each change of the box shows on the next picture composed, while paused (the same decoded
// picture) too; back at the defaults the picture is shown as decoded, with no filter at all.
TEST_F(ComposeTest, AChangeShowsOnTheNextComposedPicture) {
    insertClip();
    const QRgb decoded = shown();
    auto following = compositor.compose(player, box);
    EXPECT_EQ(player->frameFilter(), nullptr);
    EXPECT_EQ(shown(), decoded);

    const ColorSettings steps[] = {brighter, darker, brighter, ColorSettings{}};
    for (const auto& settings : steps) {
        box.setValue(settings);
        EXPECT_EQ(shown(), expected(settings)) << "brightness " << settings.brightness;
    }
    EXPECT_EQ(player->frameFilter(), nullptr);
    EXPECT_EQ(shown(), decoded);
}

// Ending the subscription stops the player following the box and leaves the last filter.
TEST_F(ComposeTest, EndingTheCompositionStopsFollowingTheBox) {
    insertClip();
    auto following = compositor.compose(player, box);
    box.setValue(brighter);
    following.reset();
    box.setValue(darker);
    EXPECT_EQ(shown(), expected(brighter));

    // A player let go while the box still changes is not kept alive or touched.
    auto again = compositor.compose(player, box);
    std::weak_ptr<QueuePlayer> weak = player;
    player.reset();
    box.setValue(brighter);
    EXPECT_TRUE(weak.expired());
}

// Without a player: a log line, nothing corrected, and the completion still runs (later).
TEST_F(ComposeTest, WithoutAPlayerTheCompletionStillRuns) {
    platform::Console::Capture console;
    bool completed = false;
    auto following = compositor.compose(nullptr, box, [&] { completed = true; });
    EXPECT_FALSE(completed);
    loop.runPending();
    EXPECT_TRUE(completed);
    EXPECT_TRUE(console.contains("VideoColorCompositor"));
    box.setValue(brighter);  // nothing to follow, nothing breaks
}

}  // namespace
}  // namespace kestio::output

namespace kestio::output {
namespace {

// A still on a layer of its own size, its colour following a box, composed as a presenter
// composes it.
class StillCompositionTest : public VideoColorCompositorTest {
  protected:
    StillCompositionTest() : layer(platform::Layer::create(loop)) {
        layer->setFrame({0, 0, double(still.width()), double(still.height())});
        layer->setContents(still);
    }
    // The still as composed once the correction of the values last set is made.
    QImage composed() {
        platform::Compositor().render(*layer, loop.now(), still.size());
        compositor.finishStillWork();
        return platform::Compositor()
            .render(*layer, loop.now(), still.size())
            .convertToFormat(QImage::Format_RGB32);
    }
    // A picture of many colours: every code of each channel somewhere.
    static QImage varied() {
        QImage image(256, 48, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                image.setPixel(x, y, qRgb(x, (x * 7 + y * 29) % 256, (255 - x + y * 53) % 256));
            }
        }
        return image;
    }

    const QImage still = varied();
    std::shared_ptr<platform::Layer> layer;
    ColorSettingsBox box;
};

// The still composed through its filter is, pixel for pixel, the whole still corrected at once
// (the way stills were corrected before they were corrected at composition), for each setting
// alone, a full grade, and the defaults (the still itself).
TEST_F(StillCompositionTest, TheComposedStillIsTheWholeStillCorrected) {
    auto following = compositor.composeStill(layer, box);
    ColorSettings grey;
    grey.saturation = 0.0f;
    ColorSettings hue;
    hue.hue = -75.0f;
    ColorSettings gamma;
    gamma.gamma = 0.6f;
    ColorSettings grade{0.05f, 1.3f, 1.4f, 30.0f, 1.2f, 1.1f, 0.95f, 0.8f};
    const ColorSettings cases[] = {ColorSettings{}, grey, hue, gamma, grade, ColorSettings{}};
    for (const auto& settings : cases) {
        box.setValue(settings);
        const QImage expected =
            compositor.applyToStill(still, settings).convertToFormat(QImage::Format_RGB32);
        const QImage shown = composed();
        ASSERT_EQ(shown.size(), expected.size());
        int differing = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                differing += shown.pixel(x, y) != expected.pixel(x, y);
            }
        }
        EXPECT_EQ(differing, 0) << "brightness " << settings.brightness << " saturation "
                                << settings.saturation << " hue " << settings.hue;
    }
}

// A change of the values swaps the layer's filter and nothing else: the still stays the very
// image it was, no filter at the defaults, and a layer let go is neither kept nor touched.
TEST_F(StillCompositionTest, AChangeOnlySwapsTheFilter) {
    ColorSettings warm;
    warm.redGain = 1.2f;
    box.setValue(warm);
    auto following = compositor.composeStill(layer, box);
    const auto first = layer->contentsFilter();
    ASSERT_NE(first, nullptr) << "the box's values are in place at once";
    warm.redGain = 1.3f;
    box.setValue(warm);
    EXPECT_NE(layer->contentsFilter(), first);
    EXPECT_NE(layer->contentsFilter(), nullptr);
    EXPECT_EQ(layer->contents().cacheKey(), still.cacheKey());
    box.setValue(ColorSettings{});
    EXPECT_EQ(layer->contentsFilter(), nullptr);

    std::weak_ptr<platform::Layer> weak = layer;
    layer.reset();
    EXPECT_TRUE(weak.expired());
    box.setValue(warm);
}

}  // namespace
}  // namespace kestio::output
