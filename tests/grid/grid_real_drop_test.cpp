// A drop on the grid panel imported by the real clip importer from generated clips. Playback
// is the recording fake (the display check answers at once); the importer's threads hand their
// results to the manual run loop, and the test waits on conditions.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <chrono>

#include "grid/slot_grid_panel.h"
#include "import/clip_importer.h"
#include "show/live_show_importer.h"
#include "show/show_fixture.h"
#include "support/media_fixtures.h"
#include "support/temporary_folder.h"

namespace kestio::grid {
namespace {

class GridRealDrop : public test::ShowFixture {
  protected:
    ClipImporter clipImporter{loop, bookmarks};
    LiveShowImporter liveImporter{clipImporter};
    test::TemporaryFolder folder;
    std::unique_ptr<ShowController> realShow =
        std::make_unique<ShowController>(services(loop, playback, liveImporter));

    template <class Pred>
    bool runUntil(Pred done, double wallSeconds = 60.0) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int>(wallSeconds * 1000));
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            loop.waitForPosted(0.01);
            loop.advance(0.005);
        }
        return true;
    }
    const SlotData& at(int bank, int slot) const {
        return realShow->project().banks[std::size_t(bank)].slots[std::size_t(slot)];
    }
};

TEST_F(GridRealDrop, ThreeGeneratedClipsDroppedOnCell12OfTheThirdBankLandFromThere) {
    playback.warmReadyAnswer = true;
    const auto package = folder.path() / "Show.ktshow";
    std::filesystem::create_directories(package);
    realShow->currentProjectURL = package;
    const auto drop = folder.path() / "drop";
    std::filesystem::create_directories(drop);
    std::filesystem::copy_file(test::mediaFixtures().video("mp4").path, drop / "first.mp4");
    std::filesystem::copy_file(test::mediaFixtures().video("mov").path, drop / "second.mov");
    std::filesystem::copy_file(test::mediaFixtures().still("png").path, drop / "third.png");

    SlotGridPanel panel(SlotGridPanel::Services{*realShow, loop, midi, midiOut, nullptr});
    panel.show();
    realShow->selectBank(2);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString((drop / "first.mp4").string())),
                  QUrl::fromLocalFile(QString::fromStdString((drop / "second.mov").string())),
                  QUrl::fromLocalFile(QString::fromStdString((drop / "third.png").string()))});
    const QPoint point = panel.cell(12)->geometry().center();
    QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&panel, &enter);
    QDropEvent dropEvent(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&panel, &dropEvent);
    ASSERT_TRUE(dropEvent.isAccepted());
    EXPECT_FALSE(realShow->isLoading.get());
    loop.runPending();
    ASSERT_TRUE(realShow->isLoading.get());
    ASSERT_TRUE(runUntil([&] { return !realShow->isLoading.get() && !playback.warming; }));

    const std::pair<int, const char*> expected[] = {{12, "first"}, {13, "second"}, {14, "third"}};
    for (const auto& [slot, name] : expected) {
        EXPECT_EQ(at(2, slot).name, name);
        EXPECT_TRUE(at(2, slot).videoURL.has_value()) << name;
        EXPECT_TRUE(at(2, slot).clipInfo.has_value()) << name;
        // The cell shows it.
        EXPECT_TRUE(panel.cell(slot)->look().loadedHeader) << name;
        EXPECT_EQ(panel.cell(slot)->look().name, name);
    }
    EXPECT_EQ(at(2, 14).mediaType, MediaType::still);
    EXPECT_FALSE(at(2, 11).videoURL.has_value());
    EXPECT_FALSE(at(2, 15).videoURL.has_value());
    EXPECT_FALSE(realShow->importAlert.get().has_value());
}

}  // namespace
}  // namespace kestio::grid
