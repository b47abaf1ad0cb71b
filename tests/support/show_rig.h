#pragma once

#include <memory>

#include "control/key_binding_store.h"
#include "control/keyboard_shortcut_handler.h"
#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "model/project_manager.h"
#include "model/recent_projects.h"
#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/user_defaults.h"
#include "show/show_controller.h"
#include "support/fake_show_importer.h"
#include "support/fake_show_playback.h"
#include "support/scripted_dialog_presenter.h"

namespace kestio::test {

// What a show controller needs besides its run loop, playback and importer: in-memory
// defaults, bookmarks, MIDI in and out on the given MIDI system, keyboard shortcuts, the
// project manager, the recent projects and scripted dialogs.
struct ShowParts {
    ShowParts(platform::RunLoop& loop, platform::MIDISystem& midiSystem)
        : midi(loop, midiSystem), midiOut(loop, midiSystem) {}

    ShowServices services(platform::RunLoop& loop, ShowPlayback& playback, ShowImporter& importer) {
        return ShowServices{
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
        };
    }

    platform::InMemoryUserDefaults defaults;
    platform::BookmarkService bookmarks;
    MIDIInputController midi;
    MIDIOutputController midiOut;
    KeyBindingStore keyBindings{defaults};
    KeyboardShortcutHandler keyboard{keyBindings};
    ProjectManager projectManager{bookmarks};
    RecentProjects recentProjects{defaults, bookmarks};
    ScriptedDialogPresenter dialogs;
};

// A manual run loop and the loopback MIDI system on it, made before the parts that use them.
struct LoopbackLoop {
    platform::ManualRunLoop loop;
    platform::LoopbackMIDISystem midiSystem{loop};
};

// The show's parts on a manual run loop with MIDI through the loopback system.
struct LoopbackShowParts : LoopbackLoop, ShowParts {
    LoopbackShowParts() : ShowParts(loop, midiSystem) {}
};

// A show controller on a manual run loop with recorded playback, a scripted importer, scripted
// dialogs, in-memory defaults and MIDI through the loopback system.
struct RecordedShow : LoopbackShowParts {
    FakeShowPlayback playback;
    FakeShowImporter importer{loop};
    std::unique_ptr<ShowController> show = makeShow();

    std::unique_ptr<ShowController> makeShow() {
        return std::make_unique<ShowController>(services(loop, playback, importer));
    }
};

}  // namespace kestio::test
