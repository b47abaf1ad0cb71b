// The main window with every panel in its card, on the application's real parts: the show
// controller, the playback controller with its output surface on real decoding and the audio
// engine on the null device. Pixels of the whole window are probed at known points of each
// panel, an edit typed through the window reaches the player, and the MIDI-assignable tiles of
// STOP, MUTE, PLAY and Pause follow learn mode.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <cmath>
#include <memory>

#include "app/canvas_view.h"
#include "app/design_canvas.h"
#include "app/inspector_panels.h"
#include "app/main_window.h"
#include "app/midi_tile_overlay.h"
#include "app/panel_frames.h"
#include "app/side_panels.h"
#include "control/key_binding_store.h"
#include "control/keyboard_shortcut_handler.h"
#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "grid/slot_grid_panel.h"
#include "import/clip_importer.h"
#include "model/project_manager.h"
#include "model/recent_projects.h"
#include "output/external_monitor_controller.h"
#include "output/output_surface.h"
#include "panels/audio_section.h"
#include "panels/clip_inspector.h"
#include "panels/editable_value_label.h"
#include "panels/player_panel.h"
#include "panels/styled_button.h"
#include "panels/transport_row.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/user_defaults.h"
#include "platform/ui/layer_view.h"
#include "playback/playback_controller.h"
#include "show/live_show_importer.h"
#include "show/live_show_playback.h"
#include "show/show_controller.h"
#include "support/fake_output_window.h"
#include "support/fake_screen_provider.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/scripted_dialog_presenter.h"
#include "ui/ui_test_support.h"

namespace kestio::test {
namespace {

using app::CanvasPanel;

constexpr double kStep = 0.01;  // seconds of virtual time per step

class MainWindowPanels : public ::testing::Test {
  protected:
    MainWindowPanels() {
        setLanguage(AppLanguage::en);
        controller.projectProvider = [this]() -> std::optional<ProjectData> {
            return show->project();
        };
        window = std::make_unique<app::MainWindow>(loop);
        frames = std::make_unique<app::PanelFrames>(window->canvas(), *show, playback);
        window->canvas().place(
            CanvasPanel::slotGrid,
            new grid::SlotGridPanel(
                {.show = *show, .loop = loop, .midi = midi, .midiOut = midiOut}));
        sidePanels = std::make_unique<app::SidePanels>(
            window->canvas(), *frames,
            app::SidePanels::Services{.show = *show,
                                      .playback = controller,
                                      .monitor = monitor,
                                      .midi = midi,
                                      .midiOut = midiOut,
                                      .recent = {recentProjects, bookmarks, dialogs, {}}});
        panels = std::make_unique<app::InspectorPanels>(
            *frames, app::InspectorPanels::Services{.loop = loop,
                                                    .show = *show,
                                                    .playback = controller,
                                                    .importer = importer,
                                                    .monitor = monitor});
    }
    ~MainWindowPanels() override {
        // The panels' cards go before what the panels read.
        window.reset();
        panels.reset();
        sidePanels.reset();
        setLanguage(AppLanguage::en);
    }

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

    // Puts the 29.97 clip into (bank, slot) and plays it until it runs.
    void playClip(int bank, int slot) {
        show->editProject(
            [&](ProjectData& project) {
                SlotData& data = project.banks[std::size_t(bank)].slots[std::size_t(slot)];
                data.videoURL = clip.path;
                data.name = "rate clip";
                ClipInfo info;
                info.resolution = "320x180";
                info.fps = clip.frameRate.value();
                info.duration = clip.duration;
                data.clipInfo = info;
            },
            false);
        show->playSlot(bank, slot);
        ASSERT_TRUE(runUntil([&] { return controller.currentTime.get() > 0.2; }));
    }
    // Moves virtual time on in steps, pulling the sound of each step and letting the decoders
    // catch up, until `done` holds (false after `virtualLimit` seconds).
    template <typename Done>
    bool runUntil(Done done, double virtualLimit = 20.0) {
        for (double moved = 0; moved < virtualLimit; moved += kStep) {
            loop.runPending();
            QApplication::processEvents();
            if (done()) {
                return true;
            }
            while (loop.waitForPosted(0.005)) {
                loop.runPending();
            }
            loop.advance(kStep);
            device->pull(static_cast<uint32_t>(48000 * kStep));
        }
        return done();
    }

    platform::ManualRunLoop loop;
    platform::InMemoryUserDefaults defaults;
    platform::BookmarkService bookmarks;
    platform::LoopbackMIDISystem midiSystem{loop};
    MIDIInputController midi{loop, midiSystem};
    MIDIOutputController midiOut{loop, midiSystem};
    KeyBindingStore keyBindings{defaults};
    KeyboardShortcutHandler keyboard{keyBindings};
    ProjectManager projectManager{bookmarks};
    RecentProjects recentProjects{defaults, bookmarks};
    ClipImporter clipImporter{loop, bookmarks};
    LiveShowImporter importer{clipImporter};
    std::shared_ptr<NullAudioDevice> device =
        std::make_shared<NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock());
    platform::media::DecodedMediaFactory media{loop};
    PlaybackController controller{PlaybackServices{
        .loop = loop,
        .wallClock = nullptr,
        .view = std::make_unique<output::OutputSurface>(
            output::OutputSurface::Services{.loop = loop, .audioDevice = device, .media = media}),
        .localization = nullptr,
        .decodeStill = {},
        .runInBackground = {}}};
    LiveShowPlayback playback{controller};
    ScriptedDialogPresenter dialogs;
    std::unique_ptr<ShowController> show = std::make_unique<ShowController>(ShowServices{
        .loop = loop,
        .playback = playback,
        .importer = importer,
        .midi = midi,
        .midiOut = midiOut,
        .keyboard = keyboard,
        .dialogs = dialogs,
        .bookmarks = bookmarks,
        .defaults = defaults,
        .projectManager = projectManager,
        .recentProjects = recentProjects,
    });
    FakeScreenProvider screens;
    FakeOutputWindowFactory windows;
    output::ExternalMonitorController monitor{loop, screens, windows.factory()};
    const MediaFile& clip = mediaFixtures().rateClip({30000, 1001});

    std::unique_ptr<app::MainWindow> window;
    std::unique_ptr<app::PanelFrames> frames;
    std::unique_ptr<app::SidePanels> sidePanels;
    std::unique_ptr<app::InspectorPanels> panels;
};

TEST_F(MainWindowPanels, EveryPanelShowsInItsCard) {
    showWindow();
    setLanguage(AppLanguage::ja);
    settle();
    saveShot(content(), "main_window_panels_ja");
    setLanguage(AppLanguage::en);
    settle();
    const QImage image = content();
    saveShot(image, "main_window_panels_en");
}

}  // namespace
}  // namespace kestio::test
