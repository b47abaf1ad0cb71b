// The EQ and colour panel, the geometry section, the timeline and the thumbnail capture on
// the application's real parts: the show controller, the playback controller with its output
// surface on real decoding, the clip importer and the audio engine on the null device. What they
// change is read back from the composed program picture.

#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <cmath>
#include <memory>

#include "live_panels_rig.h"
#include "panels/eq_color_panel.h"
#include "panels/geometry_section.h"
#include "panels/styled_button.h"
#include "panels/thumbnail_capture.h"
#include "panels/timeline_bar.h"
#include "panels/transport_row.h"
#include "platform/ui/layer_view.h"
#include "support/frame_number_strip.h"
#include "support/temporary_folder.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui/popover.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

class PicturePanelsOnRealParts : public LivePanelsRig {
  protected:
    // The program composed as the player panel's view composes it, 320 by 180.
    platform::LayerView program{loop};
    void showProgram() {
        program.onLayout = [this](platform::SizeF) { controller.view().layout(); };
        program.setRootLayer(controller.view().rootLayer());
        program.resize(320, 180);
        program.show();
    }
    // Runs until a picture composed after the call satisfies `check`.
    template <typename Check>
    bool composedUntil(Check check) {
        return runUntil(
            [&] {
                program.presenter().waitForNewFrame(0.2);
                const QImage image = program.presenter().newestFrame().image;
                return !image.isNull() && check(image);
            },
            5.0);
    }
};

// A colour change reaches the program at once: R gain typed to 0 turns the red quadrant black
// in the next composed picture of the paused clip; the panel's reset brings it back.
TEST_F(PicturePanelsOnRealParts, ColourEntryShowsInTheNextComposedPicture) {
    ui::PanelCard card(ui::PanelCardStyle::eqColor());
    auto* panel = new EqColorPanel(facade, card);
    card.show();
    showProgram();
    playClip(0, 0);
    show->pausePlayback();
    const auto red = [](const QImage& image) { return image.pixelColor(60, 60).red(); };
    ASSERT_TRUE(composedUntil([&](const QImage& image) { return red(image) > 200; }));
    panel->selectTab(1);
    panel->beginValueEntry(5);  // R
    panel->entryField()->setText("0");
    QTest::keyClick(panel->entryField(), Qt::Key_Return);
    EXPECT_EQ(show->project().banks[0].slots[0].colorSettings.redGain, 0.0f);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    ASSERT_TRUE(composedUntil([&](const QImage& image) { return red(image) < 40; }));
    test::saveShot(program.presenter().newestFrame().image, "program_red_gain_0");
    test::saveShot(test::render(card, ui::palette::white(0.42)), "eq_color_live_en");
    panel->reset();
    ASSERT_TRUE(composedUntil([&](const QImage& image) { return red(image) > 200; }));
}

// A tap on the timeline seeks the real player to the time under the pointer: the composed
// picture then carries the frame number of that time.
TEST_F(PicturePanelsOnRealParts, TimelineTapShowsTheFrameUnderThePointer) {
    ui::PanelCard card(ui::PanelCardStyle::player());
    auto* row = new TransportRow(facade, card, [](int, int) {});
    card.show();
    showProgram();
    playClip(0, 1);
    show->pausePlayback();
    TimelineBar* bar = row->timeline();
    const double span = std::max(controller.duration.get(), 1.0);
    for (double fraction : {0.25, 0.6}) {
        SCOPED_TRACE(fraction);
        const int x = static_cast<int>(std::lround(bar->width() * fraction));
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, 12));
        const double t = span * x / bar->width();
        EXPECT_NEAR(controller.currentTime.get(), t, 1e-6);
        const int expected = static_cast<int>(std::floor(t * clip.frameRate.value() + 1e-9));
        int shown = -1;
        EXPECT_TRUE(composedUntil([&](const QImage& image) {
            shown = test::readFrameNumber(image);
            return std::abs(shown - expected) <= 1;
        })) << "shown "
            << shown << ", expected " << expected;
    }
    test::saveShot(test::render(card, ui::palette::white(0.42)), "transport_live_en");
}

// A typed geometry moves the picture by the typed amount: half size, centred at a quarter of
// the 1920 canvas, fills the composed picture's left half only; a zero scale typed is kept at
// the least the slider sets, a tenth of the canvas.
TEST_F(PicturePanelsOnRealParts, TypedGeometryMovesThePictureInPixels) {
    QWidget titleRow;
    new QHBoxLayout(&titleRow);
    QWidget controls;
    auto* section = new GeometrySection(facade, titleRow, controls);
    controls.resize(381, 80);
    controls.show();
    showProgram();
    playClip(0, 2);
    show->pausePlayback();
    section->setGeometryMode(GeometryMode::custom);
    const auto type = [&](int row, const char* text) {
        QLineEdit* field = section->field(row);
        field->setFocus();
        field->setText(QString::fromUtf8(text));
        QTest::keyClick(field, Qt::Key_Return);
    };
    facade.geoScaleLocked().set(false);
    type(2, "50");
    type(3, "100");
    type(0, "480");
    EXPECT_EQ(show->project().banks[0].slots[2].geometry.posX, 480.0);
    // On the 320-wide picture: the clip spans x 0 to 160; x 240 is black.
    const auto lit = [](const QImage& image, int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return c.red() + c.green() + c.blue() > 150;
    };
    EXPECT_TRUE(composedUntil([&](const QImage& image) {
        return lit(image, 150, 150) && !lit(image, 170, 150) && !lit(image, 240, 150);
    }));
    test::saveShot(program.presenter().newestFrame().image, "program_geometry_left_half");
    type(2, "0");
    EXPECT_EQ(show->project().banks[0].slots[2].geometry.scaleX, 10.0);
    // 32 of the 320 pixels wide, centred at 80.
    EXPECT_TRUE(composedUntil([&](const QImage& image) {
        return lit(image, 80, 150) && !lit(image, 60, 150) && !lit(image, 100, 150) &&
               !lit(image, 240, 150);
    }));
}

// The thumbnail of the paused loaded slot is taken at its position by the real importer and
// held in the project until it is saved; a clip that cannot be read leaves the old one.
TEST_F(PicturePanelsOnRealParts, ThumbnailCaptureHoldsThePictureInTheProject) {
    test::TemporaryFolder package;
    show->currentProjectURL.set(package.path());
    ThumbnailCapture capture(facade, importer);
    playClip(0, 4);
    show->pausePlayback();
    const auto earlier = show->project().banks[0].slots[4].thumbnail;
    capture.capture(0, 4);
    ASSERT_TRUE(runUntil([&] {
        const auto& now = show->project().banks[0].slots[4].thumbnail;
        return now && now != earlier;
    }));
    const auto& png = *show->project().banks[0].slots[4].thumbnail;
    const QImage picture = QImage::fromData(png.data(), static_cast<int>(png.size()));
    ASSERT_FALSE(picture.isNull());
    EXPECT_FALSE(std::filesystem::exists(package.path() / "thumbnails"));
    EXPECT_LE(std::max(picture.width(), picture.height()), 320);
    EXPECT_EQ(show->project().banks[0].slots[4].thumbnailFileName, "thumb_0_4.png");
    // A file that fails to read keeps the picture.
    const auto before = show->project().banks[0].slots[4].thumbnail;
    show->editProject(
        [&](ProjectData& project) {
            project.banks[0].slots[4].videoURL = package.path() / "missing.mp4";
            project.banks[0].slots[4].bookmarkData.reset();
        },
        false);
    capture.capture(0, 4);
    runFor(0.5);
    EXPECT_EQ(show->project().banks[0].slots[4].thumbnail, before);
}

}  // namespace
}  // namespace kestio::panels
