#include "app/main_view_wiring.h"

#include <any>

#include "app/app_delegate.h"
#include "control/keyboard_shortcut_handler.h"
#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "platform/storage/notification_center.h"
#include "show/midi_routing.h"
#include "show/project_io.h"
#include "show/show_controller.h"
#include "show/show_playback.h"

namespace kestio::app {

namespace fs = std::filesystem;

MainViewWiring::MainViewWiring(Services services) : s_(std::move(services)) {
    // The change handlers, in the order the main view attaches them.
    subscriptions_.push_back(
        s_.show.currentProjectURL.subscribe([this](const auto&) { updateOpenProjectFlag(); }));
    subscriptions_.push_back(
        s_.show.hasUnsavedChanges.subscribe([this](bool) { updateOpenProjectFlag(); }));
    subscriptions_.push_back(s_.midi.isEnabled.subscribe(
        [this](bool on) { copySwitch(on, &ProjectData::midiInputEnabled); }));
    subscriptions_.push_back(s_.show.showMIDIAssignLabels.subscribe(
        [this](bool on) { copySwitch(on, &ProjectData::showMIDIAssignLabels); }));
    subscriptions_.push_back(s_.show.followJump.subscribe(
        [this](bool on) { copySwitch(on, &ProjectData::followJumpEnabled); }));
}

MainViewWiring::~MainViewWiring() = default;

void MainViewWiring::updateOpenProjectFlag() {
    if (s_.delegate) {
        s_.delegate->hasOpenProject =
            s_.show.currentProjectURL.get().has_value() || s_.show.hasUnsavedChanges.get();
    }
}

void MainViewWiring::copySwitch(bool value, bool ProjectData::*field) {
    if (s_.show.project().*field == value) {
        return;
    }
    s_.show.editProject([field, value](ProjectData& project) { project.*field = value; },
                        /*marksUnsaved=*/true);
}

void MainViewWiring::forwardLayerLog(const std::string& line) {
    s_.playback.log(line);
}

void MainViewWiring::onAppearSetup() {
    if (wired_) {
        return;
    }
    wired_ = true;
    ShowController& show = s_.show;

    if (s_.installProjectProvider) {
        s_.installProjectProvider(
            [&show]() -> std::optional<ProjectData> { return show.project(); });
    }
    s_.playback.onRequestPlay = [&show](int bank, int slot) { show.requestPlay(bank, slot); };
    s_.playback.onRequestPreloadNext = [&show](int bank, int slot) {
        show.preloadNextGo(bank, slot);
    };
    if (s_.installLayerLog) {
        s_.installLayerLog([this](const std::string& line) { forwardLayerLog(line); });
    }

    auto& center = s_.notifications;
    subscriptions_.push_back(center.addObserver(
        kOpenProjectNotification,
        [&show](const platform::Notification&) { show.projectIO().openProject(); }));
    subscriptions_.push_back(
        center.addObserver(kSaveProjectNotification, [&show](const platform::Notification& note) {
            // The quit confirmation hands over its completion; the plain post has none.
            if (const auto* completion = std::any_cast<SaveCompletion>(&note.object)) {
                show.projectIO().saveProject(completion->done);
            } else {
                show.projectIO().saveProject();
            }
        }));
    subscriptions_.push_back(center.addObserver(
        kOpenProjectURLNotification, [&show](const platform::Notification& note) {
            if (const auto* url = std::any_cast<fs::path>(&note.object)) {
                show.projectIO().loadProject(*url);
            }
        }));
    subscriptions_.push_back(center.addObserver(
        kRequestReWarmUpNotification,
        [&show](const platform::Notification&) { show.confirmReWarmUp = true; }));

    if (const auto url = show.currentProjectURL.get()) {
        s_.playback.setLogFileURL(*url / "app.log");
        s_.playback.reopenLogFile();
        s_.playback.log("アプリ起動: " + url->filename().string());
    }

    show.setupKeyboardShortcuts();
    s_.keyboard.start();
    s_.midi.start();
    s_.midiOut.setup();
    show.midiRouting().setupMIDIInput();
}

}  // namespace kestio::app
