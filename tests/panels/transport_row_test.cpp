// The timeline bar and the transport buttons on the recording facade, and the thumbnail
// capture on a scripted importer.

#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <fstream>

#include "panels/player_panel.h"
#include "panels/styled_button.h"
#include "panels/thumbnail_capture.h"
#include "panels/timeline_bar.h"
#include "panels/transport_row.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/fake_show_importer.h"
#include "support/recording_panel_facade.h"
#include "support/temporary_folder.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

using Calls = std::vector<std::string>;

class TransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::setLanguage(AppLanguage::en);
        row = new TransportRow(facade, card, [this](int bank, int slot) {
            captures.push_back({bank, slot});
        });
        card.show();
    }
    void load(int bank, int slot, double duration) {
        facade.setLoaded(bank, slot);
        facade.duration().set(duration);
        facade.calls.clear();
    }
    TimelineBar& bar() { return *row->timeline(); }

    test::RecordingPanelFacade facade;
    ui::PanelCard card{ui::PanelCardStyle::player()};
    TransportRow* row = nullptr;
    std::vector<std::pair<int, int>> captures;
};

TEST_F(TransportTest, TapSeeksOnceAndLeavesSeekingAlone) {
    load(1, 4, 20);
    ASSERT_GT(bar().width(), 600);  // the panel's width less 4 on each side
    bar().setFixedWidth(400);
    QTest::mouseClick(&bar(), Qt::LeftButton, {}, QPoint(300, 12));
    EXPECT_EQ(facade.calls, (Calls{"seek 15"}));
}

TEST_F(TransportTest, PlayheadDragShowsThePointerAndSeeksOnceAtTheEnd) {
    load(1, 4, 0.4);  // spans one second
    const int w = bar().width();
    QTest::mousePress(&bar(), Qt::LeftButton, {}, QPoint(2, 12));  // on the playhead at 0
    QTest::mouseMove(&bar(), QPoint(w / 2, 12));
    EXPECT_DOUBLE_EQ(facade.currentTime().get(), 0.5 * 1.0 * (w / 2) / (w * 0.5));
    QTest::mouseMove(&bar(), QPoint(w + 50, 12));
    QTest::mouseRelease(&bar(), Qt::LeftButton, {}, QPoint(w + 50, 12));
    EXPECT_EQ(facade.calls, (Calls{"seeking 1", "seeking 1", "seeking 1", "seek 1", "seeking 0"}));
    EXPECT_FALSE(facade.seeking);
}

TEST_F(TransportTest, ABarWithoutWidthTakesNoInput) {
    load(1, 4, 20);
    bar().setFixedWidth(0);
    bar().resize(0, 24);
    QTest::mouseClick(&bar(), Qt::LeftButton, {}, QPoint(0, 12));
    EXPECT_TRUE(facade.calls.empty());
    test::render(bar());  // and draws without failing
}

TEST_F(TransportTest, InAndOutPointsMarkUnsavedUncheckedAgainstEachOther) {
    load(2, 9, 20);
    facade.currentTime().set(12.5);
    QTest::mouseClick(row->button(TransportImage::setIn), Qt::LeftButton);
    facade.currentTime().set(3.0);
    QTest::mouseClick(row->button(TransportImage::setOut), Qt::LeftButton);
    EXPECT_EQ(facade.slot(2, 9).inPoint, 12.5);
    EXPECT_EQ(facade.slot(2, 9).outPoint, 3.0);  // set past each other, as asked
    EXPECT_EQ(facade.calls, (Calls{"edit 2 9", "unsaved", "edit 2 9", "unsaved"}));
    test::saveShot(test::render(card, ui::palette::white(0.42)), "transport_in_after_out_en");
    facade.calls.clear();
    QTest::mouseClick(row->button(TransportImage::toOutPoint), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::clearOut), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::toOutPoint), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::clearIn), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::toInPoint), Qt::LeftButton);
    EXPECT_EQ(facade.calls,
              (Calls{"seek 3", "edit 2 9", "unsaved", "seek 20", "edit 2 9", "unsaved", "seek 0"}));
    // The picture on screen runs ahead of the time last published: the points are its time.
    facade.currentTime().set(4.05);
    facade.shownTime() = 4.1;
    QTest::mouseClick(row->button(TransportImage::setOut), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::setIn), Qt::LeftButton);
    EXPECT_EQ(facade.slot(2, 9).outPoint, 4.1);
    EXPECT_EQ(facade.slot(2, 9).inPoint, 4.1);
}

TEST_F(TransportTest, EnablingStepsPlayPauseLearnAndThumbnail) {
    load(0, 0, 10);
    facade.setLoaded(std::nullopt, std::nullopt);
    for (auto image : {TransportImage::setIn, TransportImage::clearIn, TransportImage::thumbnail,
                       TransportImage::setOut, TransportImage::clearOut, TransportImage::toInPoint,
                       TransportImage::toOutPoint}) {
        EXPECT_FALSE(row->button(image)->isEnabled()) << int(image);
    }
    test::saveShot(test::render(card, ui::palette::white(0.42)), "transport_idle_en");
    QTest::mouseClick(row->button(TransportImage::backFrame), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::play), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::pause), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::forwardFrame), Qt::LeftButton);
    EXPECT_EQ(facade.calls, (Calls{"skip -1 29.97", "resume", "pause", "skip 1 29.97"}));
    facade.calls.clear();
    facade.isMIDILearnMode().set(true);
    QTest::mouseClick(row->button(TransportImage::play), Qt::LeftButton);
    QTest::mouseClick(row->button(TransportImage::pause), Qt::LeftButton);
    EXPECT_EQ(facade.calls, (Calls{"arm play", "arm pause"}));
    // The thumbnail takes the slot loaded at the last redraw.
    facade.setLoaded(4, 2);
    QTest::mouseClick(row->button(TransportImage::thumbnail), Qt::LeftButton);
    EXPECT_EQ(captures, (std::vector<std::pair<int, int>>{{4, 2}}));
}

TEST_F(TransportTest, TimelinePictures) {
    // Nothing loaded: the green band across, no blue, the playhead at the leading edge.
    load(0, 0, 0);
    facade.setLoaded(std::nullopt, std::nullopt);
    QImage idle = test::render(bar(), ui::palette::white(0.12));
    const QColor band = idle.pixelColor(bar().width() / 2, 20);
    EXPECT_GT(band.green(), band.blue());
    // Playing at half of a 20 s clip with marks at 5 and 15 s.
    load(0, 0, 20);
    facade.slot(0, 0).inPoint = 5;
    facade.slot(0, 0).outPoint = 15;
    facade.currentTime().set(10);
    QImage playing = test::render(bar(), ui::palette::white(0.12));
    const QColor progress = playing.pixelColor(bar().width() / 8, 20);
    EXPECT_TRUE(test::near(progress, QColor::fromRgbF(0, 0.78f, 0.95f), 3));
    const QColor beyond = playing.pixelColor(bar().width() * 7 / 10, 20);
    EXPECT_GT(beyond.green(), beyond.blue());  // the green band, not the blue
    EXPECT_GT(playing.pixelColor(bar().width() / 2, 12).red(), 240);  // the white playhead
    test::saveShot(test::render(card, ui::palette::white(0.42)), "transport_playing_en");
    facade.slot(0, 0).waveformData = std::vector<float>(200, 0.5f);
    facade.projectRevision().set(facade.projectRevision().get() + 1);
    test::saveShot(test::render(card, ui::palette::white(0.42)), "transport_waveform_en");
}

// Screenshots for a person of the whole player card with its timeline and transport rows:
// idle, playing (marks, waveform, the playhead at 40 of 100 s) and scrubbing (the playhead
// held at three quarters), in both languages.
TEST(TransportShots, IdlePlayingAndScrubbingInBothLanguages) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ja}) {
        test::setLanguage(language);
        const QString suffix = language == AppLanguage::en ? "en" : "ja";
        platform::ManualRunLoop loop;
        test::RecordingPanelFacade facade;
        facade.frameRate = 25.0;
        facade.selectedClipName() = language == AppLanguage::en ? "No Selection" : "未選択";
        ui::PanelCard card(ui::PanelCardStyle::player());
        new PlayerPanel(facade, loop, card);
        auto* row = new TransportRow(facade, card, [](int, int) {});
        card.show();
        test::saveShot(test::render(card, ui::palette::white(0.42)),
                       "player_transport_idle_" + suffix);
        EXPECT_FALSE(row->button(TransportImage::setIn)->isEnabled());

        auto& slot = facade.slot(2, 5);
        slot.clipInfo = ClipInfo{};
        slot.clipInfo->resolution = "1920x1080";
        slot.clipInfo->fps = 25.0;
        slot.inPoint = 12.0;
        slot.outPoint = 80.0;
        slot.waveformData = std::vector<float>(200, 0.4f);
        facade.selectedClipName() =
            language == AppLanguage::en ? "Opening titles" : "オープニング タイトル";
        facade.setLoaded(2, 5);
        facade.duration().set(100.0);
        facade.currentTime().set(40.0);
        EXPECT_TRUE(row->button(TransportImage::setIn)->isEnabled());
        test::saveShot(test::render(card, ui::palette::white(0.42)),
                       "player_transport_playing_" + suffix);

        TimelineBar* bar = row->timeline();
        const int w = bar->width();
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(w * 4 / 10, 12));
        QTest::mouseMove(bar, QPoint(w * 3 / 4, 12));
        EXPECT_TRUE(facade.seeking);
        EXPECT_NEAR(facade.currentTime().get(), 75.0, 100.0 / w);
        test::saveShot(test::render(card, ui::palette::white(0.42)),
                       "player_transport_scrubbing_" + suffix);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(w * 3 / 4, 12));
        EXPECT_FALSE(facade.seeking);
    }
    test::setLanguage(AppLanguage::en);
}

// ---- Thumbnail capture ----

class ThumbnailCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        facade.slot(0, 1).videoURL = "/media/clip.mp4";
        facade.slot(0, 1).thumbnail = std::vector<std::uint8_t>{1, 2, 3};
        facade.slot(0, 1).thumbnailFileName = "thumb_0_1.png";
        facade.slotURL = [](int, int) { return std::filesystem::path("/media/clip.mp4"); };
        facade.packageURL = package.path();
        std::filesystem::create_directories(package.path() / "thumbnails");
        std::ofstream(package.path() / "thumbnails/thumb_0_1.png") << "old";
    }
    std::string fileText() {
        std::ifstream in(package.path() / "thumbnails/thumb_0_1.png");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Runs the loop until the importer has answered.
    void settle() {
        for (int i = 0; i < 50; ++i) {
            loop.runPending();
            loop.waitForPosted(0.01);
        }
        loop.runPending();
    }

    platform::ManualRunLoop loop;
    test::RecordingPanelFacade facade;
    test::FakeShowImporter importer{loop};
    test::TemporaryFolder package;
    ThumbnailCapture capture{facade, importer};
};

TEST_F(ThumbnailCaptureTest, AFailedReadKeepsTheOldPictureAndFile) {
    importer.thumbnails["/media/clip.mp4"] = std::nullopt;
    capture.capture(0, 1);
    EXPECT_EQ(facade.slot(0, 1).thumbnail, (std::vector<std::uint8_t>{1, 2, 3}));  // meanwhile
    settle();
    EXPECT_EQ(facade.slot(0, 1).thumbnail, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(fileText(), "old");
    EXPECT_FALSE(facade.unsaved);
}

TEST_F(ThumbnailCaptureTest, ANewPictureReplacesTheSlotsButNotThePackageFileAndMarksUnsaved) {
    importer.thumbnails["/media/clip.mp4"] = std::vector<std::uint8_t>{'n', 'e', 'w'};
    facade.slot(0, 1).inPoint = 2.5;
    capture.capture(0, 1);
    settle();
    EXPECT_EQ(facade.slot(0, 1).thumbnail, (std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_EQ(facade.slot(0, 1).thumbnailFileName, "thumb_0_1.png");
    EXPECT_EQ(fileText(), "old");  // until the project is saved
    EXPECT_TRUE(facade.unsaved);
    EXPECT_EQ(importer.requests.back(), "videoThumbnail /media/clip.mp4 2.5");
    // The loaded slot is taken at the play position instead.
    facade.setLoaded(0, 1);
    facade.currentTime().set(12.25);
    capture.capture(0, 1);
    settle();
    EXPECT_EQ(importer.requests.back(), "videoThumbnail /media/clip.mp4 12.25");
}

TEST_F(ThumbnailCaptureTest, APictureOfAReplacedProjectOrClipIsDropped) {
    importer.thumbnails["/media/clip.mp4"] = std::vector<std::uint8_t>{'n', 'e', 'w'};
    importer.thumbnailDelay = 0.5;
    capture.capture(0, 1);
    facade.generation = 1;  // the project was closed and another opened
    loop.advance(1.0);
    settle();
    EXPECT_EQ(fileText(), "old");
    EXPECT_EQ(facade.slot(0, 1).thumbnail, (std::vector<std::uint8_t>{1, 2, 3}));
    capture.capture(0, 1);
    facade.slot(0, 1).videoURL = "/media/other.mp4";  // another file dropped on the slot
    loop.advance(1.0);
    settle();
    EXPECT_EQ(fileText(), "old");
    // No file for the slot: nothing at all.
    facade.slotURL = [](int, int) { return std::nullopt; };
    const auto asked = importer.requests.size();
    capture.capture(0, 1);
    EXPECT_EQ(importer.requests.size(), asked);
}

}  // namespace
}  // namespace kestio::panels
