#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "control/midi_list_panel_controller.h"
#include "grid/grid_geometry.h"
#include "grid/midi_assignments_panel.h"
#include "grid/slot_grid_panel.h"
#include "platform/runloop/console.h"
#include "show/show_fixture.h"
#include "support/gradient_png.h"
#include "support/temporary_folder.h"
#include "ui/ui_test_support.h"

namespace kestio::grid {
namespace {

using test::near;
using test::over;

// Counts the paint events each watched widget receives and the area they cover.
class PaintCounter : public QObject {
  public:
    std::map<QObject*, int> paints;
    QRegion area;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints[watched];
            auto* widget = static_cast<QWidget*>(watched);
            area += static_cast<QPaintEvent*>(event)->region().translated(widget->pos());
        }
        return false;
    }
};

std::vector<std::uint8_t> pngOf(const QColor& top, const QColor& bottom) {
    return test::gradientPNG({64, 36}, {0, 0}, {0, 36}, top, bottom);
}

class GridPanel : public test::ShowFixture {
  protected:
    MIDIListPanelController panels{loop};
    MIDIAssignmentsPanel assignments{*show, panels};
    std::unique_ptr<SlotGridPanel> panel;

    void SetUp() override {
        test::setLanguage(AppLanguage::en);
        panel = std::make_unique<SlotGridPanel>(
            SlotGridPanel::Services{*show, loop, midi, midiOut, &assignments});
        panel->resize(1878, 528);
        panel->show();
        QApplication::processEvents();
    }
    void TearDown() override { panel.reset(); }

    // Tells the views that the test changed the project behind the show's back.
    void touch() { show->projectRevision = show->projectRevision.get() + 1; }

    QPoint centreOf(int slot) const { return panel->cell(slot)->geometry().center(); }

    void clickCell(int slot, Qt::MouseButton button = Qt::LeftButton,
                   Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        SlotCellView* cell = panel->cell(slot);
        QTest::mouseClick(cell, button, modifiers, cell->rect().center());
    }

    // Opens the context menu of a cell as a secondary click does and returns it.
    QMenu* openMenu(int slot) {
        SlotCellView* cell = panel->cell(slot);
        const QPoint local = cell->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, local, cell->mapToGlobal(local));
        QApplication::sendEvent(cell, &event);
        const auto menus = cell->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
        return menus.isEmpty() ? nullptr : menus.back();
    }

    static std::vector<std::string> texts(const QMenu& menu) {
        std::vector<std::string> out;
        for (QAction* action : menu.actions()) {
            out.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        }
        return out;
    }

    // Waits, guarded, until every thumbnail decode the grid asked for has come back, then lets
    // the cells paint.
    void settleThumbnails() {
        for (int guard = 0; guard < 200 && show->thumbnailStore().decodesPending() > 0; ++guard)
            loop.waitForPosted(0.5);
        EXPECT_EQ(show->thumbnailStore().decodesPending(), 0u);
        QApplication::processEvents();
    }

    // A bank of sample clips for the screenshots: names, thumbnails, states and badges.
    void fillBankForShots() {
        const QColor tops[] = {QColor(40, 90, 160), QColor(160, 70, 40), QColor(40, 130, 80),
                               QColor(120, 60, 140)};
        for (int i = 0; i < 32; ++i) {
            load(0, i, "clip" + std::to_string(i) + ".mp4");
            slot(0, i).name = std::to_string(i + 1) + "_Scene " + std::to_string(i + 1);
            slot(0, i).clipInfo = ClipInfo{};
            slot(0, i).clipInfo->duration = 12.4 + i * 7.3;
            slot(0, i).clipInfo->fps = 29.97;
            if (i % 3 != 2) {
                slot(0, i).thumbnail = pngOf(tops[i % 4], QColor(20, 20, 20));
            }
            slot(0, i).postRollMode = static_cast<PostRollMode>(i % 5);
            slot(0, i).transitionMode = i % 2 ? TransitionMode::dissolve : TransitionMode::cut;
        }
        slot(0, 4).name = "本番オープニング映像 Opening <b>mixed</b> 한국어";
        slot(0, 5).name = std::string(500, 'W');
        slot(0, 6).mediaType = MediaType::audio;
        slot(0, 7).isFileMissing = true;
        slot(0, 8).thumbnail = std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', 1, 2, 3};  // corrupt
        slot(0, 9).midiBindings =
            std::vector<MIDINoteBinding>{{1, 60}, {1, 62}, {10, 36}, {2, 40}, {2, 41}};
        slot(0, 12).midiBindings = std::vector<MIDINoteBinding>{{1, 64}};
        slot(0, 3).postRollMode = PostRollMode::jump;
        slot(0, 3).jumpTarget = JumpTarget{0, 14};
        playback.setOnAir(0, 3);
        show->cursorSlot = 11;
        show->showMIDIAssignLabels = true;
        show->projectRevision = show->projectRevision.get() + 1;
    }
};

TEST_F(GridPanel, ARightClickOpensTheMenuWithItsExactItems) {
    load(0, 4, "four.mp4");
    touch();
    QMenu* menu = openMenu(4);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(texts(*menu),
              (std::vector<std::string>{"Load Media", "Effect", "Post-Roll", "-",
                                        "Stand by at First Frame", "-", "MIDI Output Assign...",
                                        "-", "Copy", "Replace", "-", "Delete Clip"}));
    EXPECT_TRUE(menu->actions().back()->property("destructive").toBool());
    // Choosing Post-Roll → Loop reaches the show.
    QMenu* postRoll = menu->actions()[2]->menu();
    ASSERT_NE(postRoll, nullptr);
    EXPECT_EQ(texts(*postRoll),
              (std::vector<std::string>{"Next GO", "Freeze  ✓", "Loop", "Black", "Jump"}));
    postRoll->actions()[2]->trigger();
    EXPECT_EQ(slot(0, 4).postRollMode, PostRollMode::loop);
    menu->close();

    show->isSelectMode = true;
    EXPECT_EQ(openMenu(5), nullptr);  // select mode: no menu at all
}

TEST_F(GridPanel, AClickPlaysTheCellAndMovesTheFramesOnlyWhereTheyChanged) {
    load(0, 3, "three.mp4");
    load(0, 4, "four.mp4");
    touch();
    clickCell(3);
    EXPECT_EQ(playback.callsStartingWith("play "),
              (std::vector<std::string>{"play 0 3 /media/three.mp4 1920x1080"}));
    EXPECT_EQ(panel->cell(3)->look().frames.size(), 3u);  // on air at the cursor
    QApplication::processEvents();

    PaintCounter counter;
    for (int i = 0; i < panel->cellCount(); ++i)
        panel->cell(i)->installEventFilter(&counter);
    panel->toolbar().installEventFilter(&counter);
    clickCell(4);
    QApplication::processEvents();
    EXPECT_EQ(counter.paints.size(), 2u);
    EXPECT_EQ(counter.paints[panel->cell(3)], 1);
    EXPECT_EQ(counter.paints[panel->cell(4)], 1);
    const QRegion expected = QRegion(panel->cell(3)->geometry()) + panel->cell(4)->geometry();
    EXPECT_EQ(counter.area, expected);
    std::printf("repainted area when the on-air frame moves: %d x %d twice (%lld px)\n",
                panel->cell(3)->width(), panel->cell(3)->height(),
                static_cast<long long>(panel->cell(3)->width()) * panel->cell(3)->height() * 2);
}

TEST_F(GridPanel, ClicksInSelectModeExtendTheSelection) {
    QTest::mouseClick(&panel->toolbar(), Qt::LeftButton, Qt::NoModifier,
                      panel->toolbar().itemRects()[0].center().toPoint());
    ASSERT_TRUE(show->isSelectMode.get());
    clickCell(2);
    clickCell(5, Qt::LeftButton, Qt::ShiftModifier);
    clickCell(7, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(show->selectedSlots.get(), (std::set<int>{2, 5, 7}));
    EXPECT_TRUE(playback.callsStartingWith("play ").empty());
    EXPECT_TRUE(panel->cell(5)->look().selectionFill);
    EXPECT_EQ(panel->toolbar().face().items[0].text, "● Multiple Select  3 selected  (00:00)");
    // The bar turns blue.
    const QImage image = test::render(*panel);
    EXPECT_TRUE(
        near(image.pixelColor(1500, 30), over(QColor(0x0A, 0x84, 0xFF, 89), QColor(26, 26, 26)), 3))
        << image.pixelColor(1500, 30).name().toStdString();
}

TEST_F(GridPanel, ToolbarSwitchesAndFacesFollowTheShow) {
    const QImage normal = test::render(*panel);
    EXPECT_TRUE(near(normal.pixelColor(1200, 30), QColor(33, 33, 33), 2));
    auto rects = panel->toolbar().itemRects();
    QTest::mouseClick(&panel->toolbar(), Qt::LeftButton, Qt::NoModifier,
                      rects[3].center().toPoint());  // the MIDI label switch
    EXPECT_TRUE(show->showMIDIAssignLabels.get());
    QTest::mouseClick(&panel->toolbar(), Qt::LeftButton, Qt::NoModifier,
                      rects[4].center().toPoint());  // Follow Jump
    EXPECT_FALSE(show->followJump.get());
    show->editLocked = true;
    QTest::mouseClick(&panel->toolbar(), Qt::LeftButton, Qt::NoModifier,
                      panel->toolbar().itemRects()[0].center().toPoint());
    EXPECT_FALSE(show->isSelectMode.get());  // disabled under the lock
    show->editLocked = false;
    QTest::mouseClick(&panel->toolbar(), Qt::LeftButton, Qt::NoModifier,
                      panel->toolbar().itemRects()[2].center().toPoint());  // MIDI List
    ASSERT_NE(panels.panel(), nullptr);
    EXPECT_TRUE(panels.panel()->isVisible());
    midi.isConnected = true;
    midi.lastMessageDescription = std::string("Note On ch1 C4");
    EXPECT_EQ(panel->toolbar().face().items.back().control, ToolbarControl::midiStatus);
}

TEST_F(GridPanel, ADropOfThreeClipsOnCell12ImportsThemFromThereOnALaterTurn) {
    test::TemporaryFolder folder;
    show->currentProjectURL = folder.path() / "Show.ktshow";
    show->selectBank(2);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/media/a.mp4"), QUrl::fromLocalFile("/media/b.mov"),
                  QUrl::fromLocalFile("/media/c.png")});
    const QPoint at = centreOf(12);
    platform::Console::Capture console;
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &move);
    EXPECT_TRUE(move.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_TRUE(importer.requests.empty());  // not inside the drag
    // One line as the drag enters (the move writes none) and one at the drop.
    EXPECT_EQ(console.lines(),
              (std::vector<std::string>{"🟢 GridDropNSView draggingEntered loc=QPointF(" +
                                            std::to_string(at.x()) + "," + std::to_string(at.y()) +
                                            ") slotBodyRect=QRectF(4,40 1870x484)",
                                        "🏁 GridDropNSView drop slot=12 urls=3"}));
    loop.runPending();
    loop.advance(0.0);
    ASSERT_GE(importer.requests.size(), 1u);
    EXPECT_EQ(importer.requests[0], "importMeta /media/a.mp4 0");
    for (int i = 0; i < 5; ++i)
        loop.runPending();
    EXPECT_EQ(slot(2, 12).name, "a");
    EXPECT_EQ(slot(2, 13).name, "b");
    EXPECT_EQ(slot(2, 14).name, "c");
}

TEST_F(GridPanel, TheDropGoesToTheBankShownWhenItIsDelivered) {
    test::TemporaryFolder folder;
    show->currentProjectURL = folder.path() / "Show.ktshow";
    show->selectBank(2);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/media/a.mp4")});
    QDragEnterEvent enter(centreOf(7), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &enter);
    QDropEvent drop(centreOf(7), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &drop);
    show->selectBank(5);  // before the next turn
    for (int i = 0; i < 5; ++i)
        loop.runPending();
    EXPECT_EQ(slot(5, 7).name, "a");
    EXPECT_FALSE(slot(2, 7).videoURL.has_value());
}

TEST_F(GridPanel, DropsOutsideTheCellsOrWithoutFilesAreRefused) {
    platform::Console::Capture console;
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/media/a.mp4")});
    QDragEnterEvent onToolbar(QPoint(400, 20), Qt::CopyAction, &files, Qt::LeftButton,
                              Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &onToolbar);
    EXPECT_FALSE(onToolbar.isAccepted());
    QMimeData web;
    web.setUrls({QUrl("https://example.com/a.mp4")});
    QDragEnterEvent webEnter(centreOf(0), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &webEnter);
    QDropEvent drop(centreOf(0), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &drop);
    EXPECT_FALSE(drop.isAccepted());
    QMimeData text;
    text.setText("/media/a.mp4");
    QDragEnterEvent plain(centreOf(0), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &plain);
    EXPECT_FALSE(plain.isAccepted());
    QDropEvent plainDrop(centreOf(0), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &plainDrop);
    EXPECT_FALSE(plainDrop.isAccepted());
    // The toolbar drag is logged as it enters; the web link is dropped with no file (a count of
    // 0); plain text is not offered to the grid at all.
    ASSERT_EQ(console.lines().size(), 3u);
    EXPECT_TRUE(
        console.lines()[0].starts_with("🟢 GridDropNSView draggingEntered loc=QPointF(400,20)"));
    EXPECT_TRUE(console.lines()[1].starts_with("🟢 GridDropNSView draggingEntered loc="));
    EXPECT_EQ(console.lines()[2], "🏁 GridDropNSView drop slot=0 urls=0");
    loop.runPending();
    EXPECT_TRUE(importer.requests.empty());
    EXPECT_FALSE(show->showNoProjectAlert.get());
}

TEST_F(GridPanel, AThousandFilesAndAFolderReachTheImportWhole) {
    QMimeData data;
    QList<QUrl> urls;
    urls.append(QUrl::fromLocalFile("/media/folder"));
    for (int i = 0; i < 1000; ++i)
        urls.append(QUrl::fromLocalFile(QString("/media/f%1.mp4").arg(i)));
    data.setUrls(urls);
    QDragEnterEvent enter(centreOf(39), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &enter);
    QDropEvent drop(centreOf(39), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    loop.runPending();
    EXPECT_TRUE(show->showNoProjectAlert.get());  // no project location yet: asked to save
}

TEST_F(GridPanel, ShortBanksAndGridsWithoutRowsDrawWithoutCells) {
    project().banks[0].slots.resize(13);
    show->projectRevision = show->projectRevision.get() + 1;
    EXPECT_TRUE(panel->cell(12)->isVisible());
    EXPECT_FALSE(panel->cell(13)->isVisible());
    test::saveShot(test::render(*panel), "grid-short-bank");
    project().rows = 0;
    show->projectRevision = show->projectRevision.get() + 1;
    EXPECT_EQ(panel->cellCount(), 0);
    test::render(*panel);
    project().rows = 4;
    project().columns = -3;
    show->projectRevision = show->projectRevision.get() + 1;
    EXPECT_EQ(panel->cellCount(), 0);
    project().columns = 10;
    show->selectBank(0);
    project().banks.clear();
    show->projectRevision = show->projectRevision.get() + 1;
    EXPECT_FALSE(panel->cell(0)->isVisible());
    clickCell(0);  // a hidden cell takes no click; nothing breaks
}

TEST_F(GridPanel, ColdThumbnailsDrawWithoutAPictureThenRepaintTheirCellsWhenTheyLand) {
    const QColor red(220, 30, 30);
    const QColor blue(30, 60, 220);
    load(1, 2, "two.mp4");
    load(1, 5, "five.mp4");
    load(1, 6, "six.mp4");
    slot(1, 2).thumbnail = pngOf(red, red);
    slot(1, 5).thumbnail = pngOf(blue, blue);
    slot(1, 6).thumbnail = pngOf(blue, red);
    show->selectBank(1);  // a cold switch: nothing of this bank is decoded yet
    EXPECT_FALSE(panel->cell(2)->look().thumbnail);  // not decoded on the main thread
    EXPECT_EQ(show->thumbnailStore().decodesPending(), 3u);
    QApplication::processEvents();
    const QPoint probe(panel->cell(2)->width() / 2, panel->cell(2)->height() / 2);
    EXPECT_FALSE(near(test::render(*panel->cell(2)).pixelColor(probe), red, 40));

    // Slot 6 takes another clip before its picture lands: that picture is dropped.
    slot(1, 6).thumbnail.reset();
    touch();
    PaintCounter counter;
    for (int i = 0; i < panel->cellCount(); ++i)
        panel->cell(i)->installEventFilter(&counter);
    settleThumbnails();
    ASSERT_TRUE(panel->cell(2)->look().thumbnail);
    ASSERT_TRUE(panel->cell(5)->look().thumbnail);
    EXPECT_FALSE(panel->cell(6)->look().thumbnail);
    // Only the two cells whose picture landed painted again.
    EXPECT_EQ(counter.paints.size(), 2u);
    EXPECT_EQ(counter.paints[panel->cell(2)], 1);
    EXPECT_EQ(counter.paints[panel->cell(5)], 1);
    EXPECT_TRUE(near(test::render(*panel->cell(2)).pixelColor(probe), red, 3));

    // Back and forth: the pictures are there at once, the same objects, with no new decode.
    const auto landed = show->thumbnailStore().landed.get();
    const auto picture = panel->cell(2)->look().thumbnail;
    show->selectBank(0);
    show->selectBank(1);
    EXPECT_EQ(panel->cell(2)->look().thumbnail, picture);
    EXPECT_EQ(show->thumbnailStore().decodesPending(), 0u);
    EXPECT_EQ(show->thumbnailStore().landed.get(), landed);
}

TEST_F(GridPanel, ScreenshotsOfABankInEachModeAndLanguage) {
    fillBankForShots();
    settleThumbnails();
    EXPECT_TRUE(panel->cell(0)->look().thumbnail);
    EXPECT_EQ(panel->cell(14)->look().badges, (std::vector<CellBadge>{CellBadge::jump}));
    EXPECT_FALSE(panel->cell(8)->look().thumbnail);  // the corrupt thumbnail draws none
    struct Mode {
        const char* name;
        void (*enter)(ShowController&);
        void (*leave)(ShowController&);
    };
    const Mode modes[] = {
        {"normal", [](ShowController&) {}, [](ShowController&) {}},
        {"select",
         [](ShowController& s) {
             s.isSelectMode = true;
             s.selectedSlots = std::set<int>{1, 2, 9, 20};
         },
         [](ShowController& s) {
             s.isSelectMode = false;
             s.selectedSlots = std::set<int>{};
         }},
        {"learn",
         [](ShowController& s) {
             s.isMIDILearnMode = true;
             s.midiLearnArmedTarget = MIDILearnTarget::forSlot(0, 12);
         },
         [](ShowController& s) {
             s.isMIDILearnMode = false;
             s.midiLearnArmedTarget = std::nullopt;
         }},
        {"jump-pick", [](ShowController& s) { s.isSettingJumpTarget = true; },
         [](ShowController& s) { s.isSettingJumpTarget = false; }},
    };
    for (auto language : {AppLanguage::ja, AppLanguage::en}) {
        test::setLanguage(language);
        for (const auto& mode : modes) {
            mode.enter(*show);
            const QImage image = test::render(*panel);
            EXPECT_EQ(image.size(), QSize(1878, 528));
            test::saveShot(
                image,
                QString("grid-%1-%2").arg(mode.name, language == AppLanguage::ja ? "ja" : "en"));
            mode.leave(*show);
        }
    }
}

}  // namespace
}  // namespace kestio::grid
