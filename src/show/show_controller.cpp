#include "show/show_controller.h"

#include <cmath>

#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "model/localization_manager.h"
#include "platform/storage/bookmark_service.h"
#include "platform/ui/dialog_presenter.h"
#include "show/disk_worker.h"
#include "show/media_check.h"
#include "show/midi_routing.h"
#include "show/output_canvas.h"
#include "show/project_io.h"
#include "show/show_import.h"
#include "show/show_importer.h"
#include "show/show_playback.h"
#include "show/show_warm_up.h"
#include "show/slot_display_name.h"

namespace kestio {

ShowController::ShowController(ShowServices services)
    : loop_(services.loop),
      playback_(services.playback),
      importer_(services.importer),
      midi_(services.midi),
      midiOut_(services.midiOut),
      keyboard_(services.keyboard),
      dialogs_(services.dialogs),
      bookmarks_(services.bookmarks),
      defaults_(services.defaults),
      projectManager_(services.projectManager),
      recentProjects_(services.recentProjects),
      midiList_(services.midiList),
      project_(freshProject(), projectRevision, hasUnsavedChanges),
      thumbnailStore_([this](std::function<ThumbnailStore::Image()> work,
                             std::function<void(ThumbnailStore::Image)> done) {
          if (!thumbnailWorker_) {
              thumbnailWorker_ = std::make_unique<DiskWorker>(loop_);
          }
          thumbnailWorker_->run<ThumbnailStore::Image>(std::move(work), std::move(done));
      }),
      hiddenPlays_(services.loop, services.playback),
      loading_(isLoading),
      context_{.loop = loop_,
               .playback = playback_,
               .importer = importer_,
               .dialogs = dialogs_,
               .bookmarks = bookmarks_,
               .project = project_,
               .diskWorker = [this]() -> DiskWorker& { return diskWorker(); }},
      midiRouting_(makeMIDIRouting()),
      mediaCheck_(std::make_unique<MediaCheck>(context_)),
      showImport_(makeShowImport()),
      projectIO_(makeProjectIO()),
      warmUp_(makeWarmUp()),
      lifetime_(std::make_shared<ShowController*>(this)) {
    std::weak_ptr<ShowController*> alive = lifetime_;
    playback_.onCueFailed = [alive](int bank, int slot, const std::string& reason) {
        if (const auto self = alive.lock()) {
            (*self)->cueDidNotFire(bank, slot, reason);
        }
    };
}

ShowController::~ShowController() = default;

// ---- The parts ---------------------------------------------------------------------------------
// The parts' callbacks call into the controller and its other parts without a lifetime check:
// the controller owns the parts and outlives them.

std::unique_ptr<MIDIRouting> ShowController::makeMIDIRouting() {
    return std::make_unique<MIDIRouting>(
        context_, midi_, midiList_,
        MIDIRouting::LearnCells{.isMIDILearnMode = isMIDILearnMode,
                                .midiLearnArmedTarget = midiLearnArmedTarget},
        MIDIRouting::Actions{
            .slotNote = [this](int bank, int slot) { slotNote(bank, slot); },
            .selectBank = [this](int bank) { selectBank(bank); },
            .stop = [this] { stopPlayback(); },
        });
}

std::unique_ptr<ShowImport> ShowController::makeShowImport() {
    return std::make_unique<ShowImport>(
        context_, hiddenPlays_, loading_,
        ShowImport::Cells{.currentProjectURL = currentProjectURL,
                          .showNoProjectAlert = showNoProjectAlert,
                          .confirmImportWhilePlaying = confirmImportWhilePlaying,
                          .importAlert = importAlert},
        ShowImport::Actions{
            .playSlot = [this](int bank, int slot) { playSlot(bank, slot); },
            .deleteClip = [this](int bank, int slot) { deleteClip(bank, slot); },
        });
}

std::unique_ptr<ProjectIO> ShowController::makeProjectIO() {
    return std::make_unique<ProjectIO>(
        context_, projectManager_, defaults_, recentProjects_, currentProjectURL,
        ProjectIO::Steps{
            .freshProject = [this] { return freshProject(); },
            .followProject = [this](bool closed) { followReplacedProject(closed); },
            .refreshMIDIList = [this] { midiRouting_->refreshVisibleMIDIList(); },
            .deduplicateMIDIAssignments = [this] { midiRouting_->deduplicateMIDIAssignments(); },
            .checkMissingMedia =
                [this](std::function<void()> then) {
                    mediaCheck_->checkMissingMedia(std::move(then));
                },
            .startWarmUp = [this](const ProjectData& project) { startWarmUp(project); },
        });
}

std::unique_ptr<ShowWarmUp> ShowController::makeWarmUp() {
    return std::make_unique<ShowWarmUp>(
        context_, hiddenPlays_, loading_,
        ShowWarmUp::Actions{
            .playSlot = [this](int bank, int slot) { playSlot(bank, slot); },
            .relinkFromFolder =
                [this](std::function<void()> then) {
                    mediaCheck_->relinkFromFolder(std::move(then));
                },
        });
}

// ---- State -------------------------------------------------------------------------------------

ProjectData ShowController::freshProject() const {
    ProjectData fresh(kDefaultRows, kDefaultColumns);
    fresh.midiInputEnabled = midi_.isEnabled.get();
    return fresh;
}

void ShowController::followReplacedProject(bool closed) {
    currentBank = 0;
    if (closed) {
        isSettingJumpTarget = false;
        replacingSource = std::nullopt;
        editLocked = false;
        slotClipboard = std::nullopt;
        bankClipboard = std::nullopt;
        isSelectMode = false;
        selectedSlots = std::set<int>{};
        cursorSlot = 0;
    }
    const ProjectData& project = project_.data();
    midi_.isEnabled = project.midiInputEnabled;
    showMIDIAssignLabels = project.showMIDIAssignLabels;
    followJump = project.followJumpEnabled;
}

bool ShowController::isOnAir(int bank, int slot) const {
    return playback_.onAirOrOnItsWay() == SlotRef{bank, slot};
}

platform::SizeF ShowController::canvasSize() const {
    return kestio::canvasSize(project_.data().outputSettings.resolution);
}

namespace {

const SlotData* onAirSlot(const ShowController& show, ShowPlayback& playback) {
    const auto onAir = playback.onAirOrOnItsWay();
    if (!onAir) {
        return nullptr;
    }
    const auto& banks = show.project().banks;
    if (onAir->bank < 0 || onAir->slot < 0 ||
        static_cast<std::size_t>(onAir->bank) >= banks.size()) {
        return nullptr;
    }
    const auto& slots = banks[static_cast<std::size_t>(onAir->bank)].slots;
    return static_cast<std::size_t>(onAir->slot) < slots.size()
               ? &slots[static_cast<std::size_t>(onAir->slot)]
               : nullptr;
}

}  // namespace

double ShowController::currentFrameRate() const {
    if (const auto* slot = onAirSlot(*this, playback_)) {
        if (slot->clipInfo && std::isfinite(slot->clipInfo->fps) && slot->clipInfo->fps > 0) {
            return slot->clipInfo->fps;
        }
    }
    return frameRateValue(project_.data().outputSettings.frameRate);
}

std::optional<double> ShowController::nowPlayingInPoint() const {
    const auto* slot = onAirSlot(*this, playback_);
    return slot ? slot->inPoint : std::nullopt;
}

std::optional<double> ShowController::nowPlayingOutPoint() const {
    const auto* slot = onAirSlot(*this, playback_);
    return slot ? slot->outPoint : std::nullopt;
}

std::optional<PostRollMode> ShowController::nowPlayingPostRollMode() const {
    const auto* slot = onAirSlot(*this, playback_);
    return slot ? std::optional(slot->postRollMode) : std::nullopt;
}

std::optional<TransitionMode> ShowController::nowPlayingTransitionMode() const {
    const auto* slot = onAirSlot(*this, playback_);
    return slot ? std::optional(slot->transitionMode) : std::nullopt;
}

// ---- Playing a slot ----------------------------------------------------------------------------

void ShowController::playSlot(int bank, int slot) {
    const SlotData* record = project_.slotAt(bank, slot);
    if (!record) {
        return;
    }
    if (record->isFileMissing) {
        refuseMissingFile(slotDisplayName(record->name));
        return;
    }
    const auto url = resolveSlotURL(bank, slot);
    if (!url) {
        return;
    }
    // A copy: playback and MIDI may run code that edits the project before this returns.
    const SlotData data = *project_.slotAt(bank, slot);
    const std::string bankName = project_.data().banks[static_cast<std::size_t>(bank)].name;
    playback_.log("再生: BANK[" + bankName + "] SLOT[" + std::to_string(slot + 1) + "] " +
                  data.name + " postRoll=" + std::string(rawValue(data.postRollMode)));
    playback_.play(bank, slot, *url, data, canvasSize());
    // A slot played hidden for a warm-up or an import check is not a cue: the outside world
    // hears nothing of it.
    if (data.midiOutputBinding && !playback_.isWarming()) {
        sendOutputNote(*data.midiOutputBinding);
    }
    if (!data.waveformData) {
        loadWaveform(bank, slot, *url);
    }
}

void ShowController::cueDidNotFire(int bank, int slot, const std::string& reason) {
    SlotData* record = project_.slotAt(bank, slot);
    if (record == nullptr || !record->videoURL) {
        return;
    }
    const std::string name = slotDisplayName(record->name);
    std::error_code error;
    if (std::filesystem::exists(*record->videoURL, error)) {
        // The file is there but could not be played: the play log says why.
        playback_.log("再生中止: 再生できません（" + name + "）: " + reason);
        return;
    }
    // The file went away during the show (moved, a drive unplugged): the slot is marked missing
    // as the missing-media check marks it, and the operator is told, as for a slot known to be
    // missing.
    record->isFileMissing = true;
    project_.didChange();
    refuseMissingFile(name);
}

void ShowController::refuseMissingFile(const std::string& name) {
    playback_.log("再生中止: ファイルが見つかりません（" + name + "）");
    dialogs_.alert(platform::DialogPresenter::AlertStyle::warning,
                   L("ファイルが見つかりません", "File Not Found"),
                   L("「" + name + "」の元ファイルが見つからないため、再生できません。",
                     "Can't play \"" + name + "\" because its source file could not be found."),
                   {L("OK", "OK")});
}

void ShowController::sendOutputNote(const MIDINoteBinding& binding) {
    const int channel = static_cast<int>(binding.channel);
    const int note = static_cast<int>(binding.note);
    midiOut_.sendMessage(0x90, note, 100, channel);
    std::weak_ptr<ShowController*> alive = lifetime_;
    auto noteOff = loop_.after(kMIDINoteOffDelay, [alive, channel, note] {
        if (auto self = alive.lock()) {
            (*self)->midiOut_.sendMessage(0x80, note, 0, channel);
        }
    });
    noteOff.detach();
}

void ShowController::loadWaveform(int bank, int slot, const std::filesystem::path& url) {
    std::weak_ptr<ShowController*> alive = lifetime_;
    const auto generation = project_.generation();
    importer_.generateWaveform(
        url, kWaveformPoints,
        [alive, generation, bank, slot, url](std::optional<ShowImporter::Waveform> waveform) {
            auto self = alive.lock();
            if (!self || !waveform) {
                return;
            }
            ShowController& show = **self;
            // Only onto the file it was read from: the slot may hold another clip by now.
            if (!show.project_.stillHolds(generation, bank, slot, url)) {
                return;
            }
            show.project_.slotAt(bank, slot)->waveformData = std::move(*waveform);
            show.project_.didChange();
        });
}

std::optional<std::filesystem::path> ShowController::resolveSlotURL(int bank, int slot) {
    SlotData* record = project_.slotAt(bank, slot);
    if (!record) {
        return std::nullopt;
    }
    if (!record->bookmarkData) {
        return record->videoURL;
    }
    using platform::BookmarkOption;
    try {
        const auto resolved = bookmarks_.resolveBookmarkData(*record->bookmarkData,
                                                             BookmarkOption::withSecurityScope);
        bookmarks_.startAccessingSecurityScopedResource(resolved.path);
        record->videoURL = resolved.path;
        if (resolved.isStale) {
            try {
                record->bookmarkData =
                    bookmarks_.bookmarkData(resolved.path, BookmarkOption::withSecurityScope);
            } catch (const platform::BookmarkError&) {
                // The stale bookmark is kept: it still leads to the file, and dropping it would
                // lose the slot's reference at the next save.
            }
        }
        return resolved.path;
    } catch (const platform::BookmarkError&) {
    }
    try {
        const auto resolved =
            bookmarks_.resolveBookmarkData(*record->bookmarkData, BookmarkOption::none);
        record->videoURL = resolved.path;
        return resolved.path;
    } catch (const platform::BookmarkError&) {
    }
    return record->videoURL;
}

void ShowController::preloadNextGo(int bank, int slot) {
    const SlotData* record = project_.slotAt(bank, slot);
    if (!record || record->isFileMissing) {
        return;
    }
    const auto url = resolveSlotURL(bank, slot);
    if (!url) {
        return;
    }
    const SlotData data = *project_.slotAt(bank, slot);
    playback_.preloadNext(bank, slot, *url, data);
}

void ShowController::standbySlot(int bank, int slot) {
    const auto url = resolveSlotURL(bank, slot);
    if (!url) {
        return;
    }
    const SlotData data = *project_.slotAt(bank, slot);
    playback_.standby(bank, slot, *url, data, canvasSize());
}

void ShowController::requestPlay(int bank, int slot) {
    if (bank != currentBank.get()) {
        currentBank = bank;
    }
    playSlot(bank, slot);
}

DiskWorker& ShowController::diskWorker() {
    if (!diskWorker_) {
        diskWorker_ = std::make_shared<DiskWorker>(loop_);
    }
    return *diskWorker_;
}

// ---- Warm-up ------------------------------------------------------------------------------------

void ShowController::startWarmUp(const ProjectData& project) {
    warmUp_->startWarmUp(project);
}

}  // namespace kestio
