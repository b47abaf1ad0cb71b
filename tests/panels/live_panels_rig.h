// The application's real parts for the panels' integration tests: the show controller, the
// playback controller with its output surface on real decoding, the clip importer and the audio
// engine on the null device (the test pulls its sound), with the panels' live facade on top.
// Virtual time moves in steps of the manual run loop.

#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "control/key_binding_store.h"
#include "control/keyboard_shortcut_handler.h"
#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "import/clip_importer.h"
#include "model/project_manager.h"
#include "model/recent_projects.h"
#include "output/output_surface.h"
#include "panels/live_panel_facade.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/user_defaults.h"
#include "playback/playback_controller.h"
#include "show/live_show_importer.h"
#include "show/live_show_playback.h"
#include "show/show_controller.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/scripted_dialog_presenter.h"
#include "ui_test_support.h"

namespace kestio::panels {

class LivePanelsRig : public ::testing::Test {
  protected:
    static constexpr double kStep = 0.01;  // seconds of virtual time per step, 480 frames

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
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock());
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
    test::ScriptedDialogPresenter dialogs;
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
    LivePanelFacade facade{*show, controller};
    const test::MediaFile& clip = test::mediaFixtures().rateClip({30000, 1001});

    void SetUp() override {
        test::setLanguage(AppLanguage::en);
        controller.projectProvider = [this]() -> std::optional<ProjectData> {
            return show->project();
        };
    }

    // Puts the 29.97 clip into (bank, slot) with its facts and plays it until it runs.
    void playClip(int bank, int slot) {
        show->editProject(
            [&](ProjectData& project) {
                SlotData& data = project.banks[static_cast<std::size_t>(bank)]
                                     .slots[static_cast<std::size_t>(slot)];
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
    // and presenters catch up, until `done` holds (false after `virtualLimit` seconds).
    template <typename Done>
    bool runUntil(Done done, double virtualLimit = 20.0) {
        for (double moved = 0; moved < virtualLimit; moved += kStep) {
            loop.runPending();
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
    void runFor(double seconds) {
        const double until = loop.now().seconds() + seconds;
        runUntil([&] { return loop.now().seconds() >= until; }, seconds + 1.0);
    }
};

}  // namespace kestio::panels
