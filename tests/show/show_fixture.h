#pragma once

#include <gtest/gtest.h>

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

// A show controller on a manual run loop with recorded playback, a scripted importer and
// scripted dialogs, in-memory defaults and MIDI through the loopback system.
class ShowFixture : public ::testing::Test {
  protected:
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
    FakeShowPlayback playback;
    FakeShowImporter importer{loop};
    ScriptedDialogPresenter dialogs;
    std::unique_ptr<ShowController> show = makeShow();

    std::unique_ptr<ShowController> makeShow() {
        return std::make_unique<ShowController>(ShowServices{
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
    }

    // The slot of the current project (for setting up a case).
    SlotData& slot(int bank, int index) {
        return const_cast<ProjectData&>(show->project())
            .banks[static_cast<std::size_t>(bank)]
            .slots[static_cast<std::size_t>(index)];
    }
    ProjectData& project() { return const_cast<ProjectData&>(show->project()); }
    // Gives the slot a file location, as a loaded project has.
    void load(int bank, int index, const std::string& file) {
        slot(bank, index).videoURL = std::filesystem::path("/media") / file;
        slot(bank, index).name = std::filesystem::path(file).stem().string();
    }
};

}  // namespace kestio::test
