// The main window with every panel in its card, on the application's real parts: the show
// controller, the playback controller with its output surface on real decoding and the audio
// engine on the null device. Pixels of the whole window are probed at known points of each
// panel, an edit typed through the window reaches the player, and the MIDI-assignable tiles of
// STOP, MUTE, PLAY and Pause follow learn mode.

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <memory>

#include "app/canvas_view.h"
#include "app/design_canvas.h"
#include "app/main_window.h"
#include "app/midi_tile_overlay.h"
#include "app/panel_frames.h"
#include "app/side_panels.h"
#include "app/slot_panels.h"
#include "grid/slot_grid_panel.h"
#include "output/external_monitor_controller.h"
#include "output/output_surface.h"
#include "panels/audio_section.h"
#include "panels/clip_settings_panel.h"
#include "panels/compact_slider.h"
#include "panels/editable_value_label.h"
#include "panels/geometry_section.h"
#include "panels/player_panel.h"
#include "panels/styled_button.h"
#include "panels/transport_row.h"
#include "platform/audio/audio_engine.h"
#include "platform/ui/layer_view.h"
#include "show/live_signal_output.h"
#include "show/midi_routing.h"
#include "support/fake_output_window.h"
#include "support/fake_screen_provider.h"
#include "support/live_show_fixture.h"
#include "ui/palette.h"
#include "ui/ui_test_support.h"

namespace kestio::test {
namespace {

using app::CanvasPanel;

class MainWindowPanels : public LiveShowFixture {
  protected:
    MainWindowPanels() {
        setLanguage(AppLanguage::en);
        window = std::make_unique<app::MainWindow>(loop);
        frames = std::make_unique<app::PanelFrames>(window->canvas(), *show, rig.playback);
        window->canvas().place(CanvasPanel::slotGrid,
                               new grid::SlotGridPanel({.show = *show,
                                                        .loop = loop,
                                                        .midi = rig.parts.midi,
                                                        .midiOut = rig.parts.midiOut}));
        sidePanels = std::make_unique<app::SidePanels>(
            window->canvas(), *frames,
            app::SidePanels::Services{
                .show = *show,
                .program = controller.view(),
                .signals = signals,
                .monitor = monitor,
                .midi = rig.parts.midi,
                .midiOut = rig.parts.midiOut,
                .recent = {rig.parts.recentProjects, rig.parts.bookmarks, rig.parts.dialogs, {}},
                .soundOutput = controller.view().sharedEngine().device(),
                .loop = loop});
        panels = std::make_unique<app::SlotPanels>(
            *frames,
            app::SlotPanels::Services{
                .loop = loop, .show = *show, .importer = rig.importer, .monitor = monitor});
    }
    ~MainWindowPanels() override {
        // The panels' cards go before what the panels read.
        window.reset();
        panels.reset();
        sidePanels.reset();
        setLanguage(AppLanguage::en);
    }

    // Qt delivers the window's events in every step of virtual time.
    void eachStep() override { QApplication::processEvents(); }

    // Shows the window with a content area of 1920 × 1080 and settles it.
    void showWindow() {
        window->show();
        window->resize(1920, 1080 + window->menuBar()->sizeHint().height());
        settle();
        ASSERT_EQ(window->canvasView().size(), QSize(1920, 1080));
    }
    void settle() {
        QApplication::processEvents();
        loop.runPending();
        QApplication::processEvents();
    }
    QImage content() { return window->centralWidget()->grab().toImage(); }

    // Where a point of a panel's widget lies in the window's content area (scale 1).
    QPoint inWindow(const QWidget& widget, QPoint point) {
        return widget.mapTo(&window->canvas(), point);
    }

    FakeScreenProvider screens;
    FakeOutputWindowFactory windows;
    output::ExternalMonitorController monitor{loop, screens, windows.factory()};

    LiveSignalOutput signals{controller};
    std::unique_ptr<app::MainWindow> window;
    std::unique_ptr<app::PanelFrames> frames;
    std::unique_ptr<app::SidePanels> sidePanels;
    std::unique_ptr<app::SlotPanels> panels;
};

// Each panel's own drawing at a known point of its card, where the plain card would show its
// grey: the window at 1920 × 1080 draws the canvas at scale 1. With no slot loaded: the program
// picture black, PLAY in its accent, the post-roll, transition, MUTE and geometry mode buttons
// in their greys, the EQ tab selected.
TEST_F(MainWindowPanels, EveryPanelShowsInItsCard) {
    struct Probe {
        const char* what;
        QPoint at;
        QColor colour;
    };
    const Probe probes[] = {
        {"player card padding", {470, 272}, QColor(31, 31, 31)},
        {"program picture", {788, 280}, QColor(0, 0, 0)},
        {"program letterbox", {490, 280}, QColor(0, 0, 0)},
        {"post-roll Next GO", {480, 106}, QColor(64, 64, 64)},
        {"transport PLAY", {712, 508}, QColor(0, 179, 217)},
        {"clip settings panel Cut Go", {1140, 34}, QColor(71, 71, 71)},
        {"audio MUTE", {1140, 247}, QColor(64, 64, 64)},
        {"geometry Fit to Window", {1680, 238}, QColor(71, 71, 71)},
        {"EQ tab", {1515, 362}, QColor(77, 77, 77)},
        {"settings panel card padding", {1122, 106}, QColor(41, 41, 41)},
        {"grey strip", {1114, 272}, QColor(107, 107, 107)},
    };
    showWindow();
    for (const AppLanguage language : {AppLanguage::ja, AppLanguage::en}) {
        setLanguage(language);
        settle();
        const QImage image = content();
        saveShot(image,
                 language == AppLanguage::en ? "main_window_panels_en" : "main_window_panels_ja");
        for (const Probe& probe : probes) {
            const QColor actual = image.pixelColor(probe.at);
            EXPECT_TRUE(near(actual, probe.colour))
                << probe.what << " at " << probe.at.x() << "," << probe.at.y() << ": "
                << actual.name().toStdString() << ", expected "
                << probe.colour.name().toStdString();
        }
    }
    // The panels' widgets lie inside their cards' rectangles.
    struct Inside {
        const char* what;
        const QWidget* widget;
        QRect card;
    };
    const Inside widgets[] = {
        {"STOP", panels->player().stopButton(), {467, 8, 643, 528}},
        {"program picture", panels->player().pictureBox(), {467, 8, 643, 528}},
        {"transport", panels->transport().buttonRow(), {467, 8, 643, 528}},
        {"rate slider", panels->settingsPanel().rateSlider(), {1119, 8, 376, 196}},
        {"MUTE", panels->audio().muteButton(), {1119, 204, 376, 332}},
    };
    // The GEOMETRY card's controls end inside its padding, below the title row with its mode
    // buttons.
    const QWidget* controls = frames->geometryControls()->parentWidget()->parentWidget();
    const QRect title(inWindow(*frames->geometryTitle(), {0, 0}), frames->geometryTitle()->size());
    const QRect scroll(inWindow(*controls, {0, 0}), controls->size());
    EXPECT_EQ(title.top(), 220 + 8);
    EXPECT_EQ(scroll.top(), title.bottom() + 1 + 6);
    EXPECT_LE(scroll.bottom() + 1, 336 - 8)
        << "title row " << title.height() << " high, controls " << scroll.height();
    for (const Inside& w : widgets) {
        const QRect placed(inWindow(*w.widget, {0, 0}), w.widget->size());
        EXPECT_TRUE(w.card.contains(placed)) << w.what << " at " << placed.x() << "," << placed.y()
                                             << " " << placed.width() << "x" << placed.height();
    }
}

// A play rate typed into the settings panel through the window: a click on the readout opens its
// field, the keys replace the text, Return commits. The slot keeps the rate, the project is
// marked unsaved and the clip on air runs at it: its position moves twice as fast as the clock.
TEST_F(MainWindowPanels, ARateTypedThroughTheWindowReachesThePlayer) {
    showWindow();
    playClip(0, 0);
    settle();
    panels::EditableValueLabel* rate = panels->settingsPanel().rateField();
    QWidget* viewport = window->canvasView().viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, inWindow(*rate, rate->rect().center()));
    ASSERT_TRUE(rate->isEditing());
    QTest::keyClick(&window->canvasView(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&window->canvasView(), "2");
    QTest::keyClick(&window->canvasView(), Qt::Key_Return);
    EXPECT_FALSE(rate->isEditing());
    EXPECT_EQ(show->project().banks[0].slots[0].playRate, 2.0);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_FLOAT_EQ(controller.view().showingSlot().clipPlayer().rate(), 2.0f);
    const double from = controller.currentTime.get();
    const double start = loop.now().seconds();
    // Half a second of the clock, well before the end of the two-second clip.
    ASSERT_TRUE(runUntil([&] { return loop.now().seconds() - start >= 0.5; }));
    EXPECT_NEAR(controller.currentTime.get() - from, 1.0, 0.1);
    // The geometry mode button in the GEOMETRY card's title row, clicked through the window.
    QWidget* custom = panels->geometry().modeButton(GeometryMode::custom);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, inWindow(*custom, custom->rect().center()));
    EXPECT_EQ(show->project().banks[0].slots[0].geometry.mode, GeometryMode::custom);
    settle();
    // All three rows of Custom show whole in the card's area below the title row: the scale
    // row, the last, ends inside it.
    const QWidget* scaleRow = panels->geometry().scaleRow();
    const QWidget* area = frames->geometryControls()->parentWidget();
    ASSERT_TRUE(scaleRow->isVisible());
    EXPECT_LE(scaleRow->mapTo(area, QPoint(0, scaleRow->height())).y(), area->height());
    saveShot(content(), "main_window_rate_typed_en");
}

// STOP, MUTE, PLAY and Pause carry the MIDI-assignable tile: in learn mode a click through the
// window arms learning for the control's target (the control does nothing else) and its outline
// turns solid green; its context menu offers only "Clear MIDI Assignment", enabled once the
// target has an assignment, and clearing it removes the assignment. Outside learn mode there is
// no menu and no outline.
TEST_F(MainWindowPanels, LearnModeArmsAndClearsEachAssignableControl) {
    struct Tile {
        app::MIDITileOverlay& tile;
        QWidget* control;
        const char* target;
    };
    const Tile tiles[] = {
        {panels->stopTile(), panels->player().stopButton(), "stop"},
        {panels->muteTile(), panels->audio().muteButton(), "mute"},
        {panels->playTile(), panels->transport().button(panels::TransportImage::play), "play"},
        {panels->pauseTile(), panels->transport().button(panels::TransportImage::pause), "pause"},
    };
    showWindow();
    const QColor green = ui::palette::green();
    const auto edgeColour = [&](const QWidget* control) {
        // The middle of the control's left edge, where the outline is drawn.
        return content().pixelColor(inWindow(*control, {0, control->height() / 2}));
    };
    for (const Tile& t : tiles) {
        SCOPED_TRACE(t.target);
        EXPECT_EQ(t.tile.target(), t.target);
        EXPECT_EQ(t.tile.contextMenu(), nullptr);
        EXPECT_FALSE(near(edgeColour(t.control), green, 40));
    }
    show->midiRouting().toggleMIDILearnMode();
    settle();
    saveShot(content(), "main_window_midi_learn_en");
    for (const Tile& t : tiles) {
        SCOPED_TRACE(t.target);
        QTest::mouseClick(window->canvasView().viewport(), Qt::LeftButton, {},
                          inWindow(*t.control, t.control->rect().center()));
        settle();
        EXPECT_EQ(show->midiLearnArmedTarget.get(), MIDILearnTarget::forControl(t.target));
        EXPECT_TRUE(near(edgeColour(t.control), green, 40))
            << edgeColour(t.control).name().toStdString();

        auto menu = t.tile.contextMenu();
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), "Clear MIDI Assignment");
        EXPECT_FALSE(menu->actions()[0]->isEnabled());
        show->midiRouting().learnControlAssignment(0, 60, t.target);
        menu = t.tile.contextMenu();
        ASSERT_TRUE(menu->actions()[0]->isEnabled());
        menu->actions()[0]->trigger();
        EXPECT_TRUE(show->midiRouting().controlAssignments(t.target).empty());
    }
    EXPECT_FALSE(controller.isMuted.get());  // MUTE only armed learning
}

// A right click on an assignable control: in learn mode it opens the tile's menu with its one
// entry; outside learn mode the tile opens nothing.
TEST_F(MainWindowPanels, TheControlsContextMenuIsTheTilesInLearnMode) {
    showWindow();
    QWidget* stop = panels->player().stopButton();
    const auto rightClick = [&] {
        QContextMenuEvent event(QContextMenuEvent::Mouse, stop->rect().center(),
                                stop->mapToGlobal(stop->rect().center()));
        QApplication::sendEvent(stop, &event);
    };
    rightClick();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    show->midiRouting().toggleMIDILearnMode();
    QStringList shown;
    // The menu runs its own event loop: read it and close it from there.
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                shown << action->text();
            }
            menu->close();
        }
    });
    rightClick();
    EXPECT_EQ(shown, QStringList{"Clear MIDI Assignment"});
}

// The output window finds the drawings of the player panel's program view: a monitor presented
// on an external screen is given the view's set.
TEST_F(MainWindowPanels, TheOutputWindowSharesTheProgramViewsDrawings) {
    screens.list = {FakeScreenProvider::screen("eDP-1", {0, 0, 1920, 1080}),
                    FakeScreenProvider::screen("HDMI-1", {1920, 0, 1920, 1080})};
    screens.mainId = screens.screens()[0].id;
    monitor.refreshScreens();
    ASSERT_EQ(monitor.availableScreens.get().size(), 1u);
    monitor.present(monitor.availableScreens.get()[0], controller.view(), {1920.0, 1080.0});
    ASSERT_EQ(windows.made.size(), 1u);
    ASSERT_NE(panels->player().programView(), nullptr);
    EXPECT_EQ(windows.made[0]->shared, panels->player().programView()->sharedCompositions());
    monitor.stop();
}

}  // namespace
}  // namespace kestio::test
