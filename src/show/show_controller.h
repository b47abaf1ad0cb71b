#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "import/import_result.h"
#include "model/project_data.h"
#include "model/thumbnail_store.h"
#include "platform/graphics/geometry.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

#include "show/hidden_plays.h"
#include "show/loading_count.h"
#include "show/midi_learn_target.h"
#include "show/show_context.h"
#include "show/show_import.h"
#include "show/show_project.h"
#include "show/show_warm_up.h"
#include "show/slot_location.h"

namespace kestio {

class DiskWorker;
class KeyboardShortcutHandler;
class MIDIInputController;
class MIDIListPanelController;
class MIDIOutputController;
class MIDIRouting;
class MediaCheck;
class ProjectIO;
class ProjectManager;
class RecentProjects;
class ShowImport;
class ShowWarmUp;
class ShowImporter;
class ShowPlayback;
namespace platform {
class BookmarkService;
class DialogPresenter;
class UserDefaults;
}  // namespace platform

// The services the show controller works through; all borrowed, all outliving it.
struct ShowServices {
    platform::RunLoop& loop;
    ShowPlayback& playback;
    ShowImporter& importer;
    MIDIInputController& midi;
    MIDIOutputController& midiOut;
    KeyboardShortcutHandler& keyboard;
    platform::DialogPresenter& dialogs;
    const platform::BookmarkService& bookmarks;
    platform::UserDefaults& defaults;
    const ProjectManager& projectManager;
    RecentProjects& recentProjects;
    // The MIDI assignments panel's controller, when the application has one.
    MIDIListPanelController* midiList = nullptr;
};

// The show state of the main window and every show operation: playing a slot, the keyboard
// actions and Cut Go, MIDI actions and learn, imports, slot and bank edits, opening and saving
// projects, missing media and the warm-up. It needs no view: the grid and the panels read its
// published values and call its operations. Everything runs on the main thread; work that ends
// elsewhere comes back through the run loop. Late results (waveforms, thumbnails, probes) are
// written only into the project and the slot they were started for.
//
// The controller keeps the show state and the order of operations; its owned parts carry out the
// operations of one field each, with their own fields. The views call a part's operations on the
// part itself (midiRouting(), showImport(), projectIO(), mediaCheck()); the controller's own
// public operations are the show state's and those that run across parts. The parts:
// - MIDIRouting (midi_routing.h): MIDI notes and control changes, MIDI learn, the bindings and
//   control assignments of the project.
// - MediaCheck (media_check.h): the missing-media check of an opened project, the rescan of
//   clips changed on disk and the relink of missing slots from a folder.
// - ShowImport (show_import.h): drops and imports, from the files' slots to the display check of
//   the new clips.
// - ProjectIO (project_io.h): opening, saving and closing the project, with the count of edits
//   that decides whether a save clears the unsaved mark.
// - ShowWarmUp (show_warm_up.h): the warm-up run, one at a time, as one of the hidden plays.
//
// Ownership and hand-over rules:
// - A part knows neither the controller nor its siblings. It is given at construction what it
//   acts on: the ShowContext (the project, the run loop, playback, the importer, the dialogs,
//   the bookmarks, the disk worker), the published cells of the show state that are its to
//   write, and the shared hidden plays and loading count where it plays hidden or loads. What it
//   needs done elsewhere (play a slot as a cue is played, show a bank, go on to the missing-media
//   check, the warm-up or the relink) it asks through the callbacks it is given, which the
//   controller binds to its own operations or to the sibling that carries them out.
// - The project, its generation and revision are the ShowProject's (show_project.h): a part edits
//   the project in place and tells the views through it; only an open or a close replaces it.
// - The disk worker, the hidden plays (warm-up and import display checks take turns on them) and
//   the loading count are shared by the parts and stay the controller's.
// - A part's deferred work holds the part's own lifetime weakly (MIDI input, importer and run
//   loop callbacks), as the controller's own does, or is an answer of the disk worker, which is
//   never called once the worker is gone; so nothing runs into a part after it is destroyed. The
//   parts are declared after the disk worker, so they go before it.
class ShowController {
  public:
    static constexpr double designW = 1920;
    static constexpr double designH = 1080;
    static constexpr int kDefaultRows = 4;
    static constexpr int kDefaultColumns = 10;
    static constexpr double kMIDINoteOffDelay = 0.12;  // seconds
    static constexpr int kWaveformPoints = 500;
    static constexpr double kImportDisplayTimeout = ShowImport::kDisplayTimeout;
    static constexpr double kWarmUpDisplayTimeout = ShowWarmUp::kDisplayTimeout;

    explicit ShowController(ShowServices services);
    ~ShowController();
    ShowController(const ShowController&) = delete;
    ShowController& operator=(const ShowController&) = delete;

    // ---- Show state --------------------------------------------------------------------------
    // The open project; every edit writes it. projectRevision is bumped after each operation
    // that changed it, projectGeneration when it was replaced (opened or closed).
    const ProjectData& project() const { return project_.data(); }
    platform::Published<std::uint64_t> projectRevision{0};
    std::uint64_t projectGeneration() const { return project_.generation(); }

    platform::Published<int> currentBank{0};
    platform::Published<bool> showingFileImporter{false};
    platform::Published<std::optional<int>> assignBank;
    platform::Published<std::optional<int>> assignSlot;
    platform::Published<bool> isSettingJumpTarget{false};
    platform::Published<std::optional<int>> jumpSourceBank;
    platform::Published<std::optional<int>> jumpSourceSlot;
    platform::Published<std::optional<SlotLocation>> replacingSource;
    platform::Published<bool> editLocked{false};
    platform::Published<bool> hasUnsavedChanges{false};
    platform::Published<std::optional<std::string>> importAlert;
    // An import held back until the operator confirms importing while a clip plays.
    platform::Published<std::function<void()>> confirmImportWhilePlaying;
    platform::Published<bool> isLoading{false};
    platform::Published<bool> geoScaleLocked{true};
    platform::Published<bool> isMIDILearnMode{false};
    platform::Published<std::optional<MIDILearnTarget>> midiLearnArmedTarget;
    platform::Published<bool> showMIDIAssignLabels{false};
    platform::Published<bool> followJump{true};
    platform::Published<bool> isSelectMode{false};
    platform::Published<std::set<int>> selectedSlots;
    platform::Published<bool> confirmStopMonitor{false};
    platform::Published<bool> confirmReWarmUp{false};
    platform::Published<bool> isColorBarActive{false};
    platform::Published<bool> isMeterPeak{true};
    platform::Published<bool> is1kHzActive{false};
    platform::Published<double> toneLevel1kHz{-20.0};
    platform::Published<int> cursorSlot{0};
    platform::Published<std::optional<std::filesystem::path>> currentProjectURL;
    platform::Published<bool> showNoProjectAlert{false};
    platform::Published<std::optional<SlotLocation>> slotClipboard;
    platform::Published<std::vector<SlotData>> multiSlotClipboard;
    platform::Published<std::optional<int>> bankClipboard;
    platform::Published<std::optional<int>> confirmClearBank;
    platform::Published<std::optional<int>> confirmUnassignBank;
    platform::Published<std::optional<int>> confirmUnassignSlot;
    platform::Published<int> eqPanelTab{0};
    platform::Published<std::optional<std::string>> colorSliderEditingLabel;
    platform::Published<std::string> colorSliderInputText;

    ThumbnailStore& thumbnailStore() { return thumbnailStore_; }
    ShowPlayback& playback() { return playback_; }

    // ---- Now-playing values (none while nothing on air addresses a slot of the project) -------
    double currentFrameRate() const;
    std::optional<double> nowPlayingInPoint() const;
    std::optional<double> nowPlayingOutPoint() const;
    std::optional<PostRollMode> nowPlayingPostRollMode() const;
    std::optional<TransitionMode> nowPlayingTransitionMode() const;
    // The output canvas of the project's output resolution.
    platform::SizeF canvasSize() const;
    // True when (bank, slot) is the slot the playback controller publishes as on air.
    bool isOnAir(int bank, int slot) const;

    // ---- Playing a slot ---------------------------------------------------------------------
    void playSlot(int bank, int slot);
    std::optional<std::filesystem::path> resolveSlotURL(int bank, int slot);
    void preloadNextGo(int bank, int slot);
    void standbySlot(int bank, int slot);
    // The playback controller's request to play another slot: shows its bank, then plays it.
    void requestPlay(int bank, int slot);

    // ---- Keyboard actions and Cut Go ----------------------------------------------------------
    // Installs the key handler's actions (slot keys, cursor, Return, standby, Cut Go, bank keys,
    // pause, stop, save); each action lives below in the private part.
    void setupKeyboardShortcuts();
    void selectBank(int bankIndex);
    void pausePlayback();
    void stopPlayback();
    void showHelpWindow();

    // ---- The owned parts, for the views that drive them -----------------------------------------
    // MIDI input routing, learn and the assignments (and the MIDI output assign dialog).
    MIDIRouting& midiRouting() { return *midiRouting_; }
    const MIDIRouting& midiRouting() const { return *midiRouting_; }
    // Drops and imports of files into slots.
    ShowImport& showImport() { return *showImport_; }
    // Opening, saving and closing the project.
    ProjectIO& projectIO() { return *projectIO_; }
    // The missing-media check, the rescan of a clip and the relink from a folder.
    MediaCheck& mediaCheck() { return *mediaCheck_; }

    // ---- Slot and bank edits ------------------------------------------------------------------
    void deleteClip(int bank, int slot);
    // The one route of a slot edit made by the views: runs `edit` on the slot at (bank, slot)
    // and tells the views the project changed; when that slot is on air, hands the values that
    // act on the clip playing and that the edit changed (rate, geometry, volume and mute,
    // equaliser, colour) to playback, each once. Returns false, writing nothing, when the
    // indices address no slot of the project. Does not mark the project unsaved.
    bool editSlot(int bank, int slot, const std::function<void(SlotData&)>& edit);
    // Hands all the stored settings of the slot to the players when it is on air (after its
    // record was replaced as a whole, as a swap does).
    void applySlotSettingsToActivePlayer(int bank, int slot);
    void renameBank(int bank);

    // ---- Edits made by the views -------------------------------------------------------------
    // Runs `edit` on the project and tells the views it changed; with `marksUnsaved` the project
    // is also marked unsaved. The grid's cell and batch actions and the MIDI list's clears go
    // through it. `edit` must check the indices it uses and keep no reference to the project.
    template <typename Edit>
    void editProject(Edit&& edit, bool marksUnsaved) {
        std::forward<Edit>(edit)(project_.data());
        if (marksUnsaved) {
            project_.setUnsaved();
        } else {
            project_.didChange();
        }
    }

    // ---- Warm-up ------------------------------------------------------------------------------
    void startWarmUp(const ProjectData& project);

  private:
    // The key handler's actions (show_controller_keys.cpp).
    void keyPlaySlot(int slotIndex);
    void moveCursor(int rowDelta, int columnDelta);
    void enterCursorSlot();
    void standbyCursorSlot();
    void cutGo();
    // A MIDI note bound to (bank, slot): shows the slot and plays it, or in select mode toggles
    // it when it is of the bank shown.
    void slotNote(int bank, int slot);

    // The parts, made with what each acts on.
    std::unique_ptr<MIDIRouting> makeMIDIRouting();
    std::unique_ptr<ShowImport> makeShowImport();
    std::unique_ptr<ProjectIO> makeProjectIO();
    std::unique_ptr<ShowWarmUp> makeWarmUp();
    // A fresh window's project (and the one a close leaves): the default grid, and MIDI input
    // as the switch stands, so that saving it keeps the switch.
    ProjectData freshProject() const;
    // The show state follows a project just opened or closed: its bank and switches, and for a
    // close also the cursor, the modes and the clipboards.
    void followReplacedProject(bool closed);
    // Hands to playback what differs between `before` and the slot's record now, when it is on
    // air; all but the rate when `before` is none (the player keeps its rate until it is edited).
    void pushOnAirSettings(int bank, int slot, const std::optional<SlotData>& before);
    void loadWaveform(int bank, int slot, const std::filesystem::path& url);
    void sendOutputNote(const MIDINoteBinding& binding);
    // A cue that playback could not put on air: a file gone since the project was opened marks
    // its slot missing and is reported as a missing slot is; another failure is logged.
    void cueDidNotFire(int bank, int slot, const std::string& reason);
    // The play-log line and the "File Not Found" alert for a slot whose file is missing.
    void refuseMissingFile(const std::string& name);
    void toggleSelected(int slot);
    // The disk worker (made on first use) that project files, the missing-media check and the
    // relink run their disk work on, one after another.
    DiskWorker& diskWorker();

    platform::RunLoop& loop_;
    ShowPlayback& playback_;
    ShowImporter& importer_;
    MIDIInputController& midi_;
    MIDIOutputController& midiOut_;
    KeyboardShortcutHandler& keyboard_;
    platform::DialogPresenter& dialogs_;
    const platform::BookmarkService& bookmarks_;
    platform::UserDefaults& defaults_;
    const ProjectManager& projectManager_;
    RecentProjects& recentProjects_;
    MIDIListPanelController* midiList_;

    ShowProject project_;
    // The thread that decodes the grid's thumbnails (made on first use), apart from the disk
    // worker so that a bank of decodes never holds up a save. Declared before the store: the
    // store goes first and its queued decodes are skipped before the thread is joined.
    std::unique_ptr<DiskWorker> thumbnailWorker_;
    ThumbnailStore thumbnailStore_;
    // The warm-up and the imports' display checks play hidden, one run at a time.
    HiddenPlays hiddenPlays_;
    // Imports whose files are still being probed and a running warm-up; isLoading follows.
    LoadingCount loading_;
    std::shared_ptr<DiskWorker> diskWorker_;
    // What the parts all act on.
    ShowContext context_;
    // The owned parts (see the top of this class).
    std::unique_ptr<MIDIRouting> midiRouting_;
    std::unique_ptr<MediaCheck> mediaCheck_;
    std::unique_ptr<ShowImport> showImport_;
    std::unique_ptr<ProjectIO> projectIO_;
    std::unique_ptr<ShowWarmUp> warmUp_;
    // Deferred work holds this weakly and does nothing once the controller is gone.
    std::shared_ptr<ShowController*> lifetime_;
};

}  // namespace kestio
