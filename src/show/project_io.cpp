// Project open, save, save-as and close of the show controller. Packages are read and written
// on the show's disk worker; the steps that follow resume on the run loop, so the main thread
// never waits on a disk.

#include <algorithm>
#include <cctype>
#include <exception>
#include <string>
#include <vector>

#include "control/midi_input_controller.h"
#include "model/localization_manager.h"
#include "model/project_load_failure.h"
#include "model/project_manager.h"
#include "model/recent_projects.h"
#include "platform/runloop/console.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/user_defaults.h"
#include "platform/ui/dialog_presenter.h"
#include "show/defaulted_values_text.h"
#include "show/disk_worker.h"
#include "show/media_check.h"
#include "show/midi_routing.h"
#include "show/project_shape.h"
#include "show/show_controller.h"
#include "show/show_playback.h"

namespace kestio {

namespace fs = std::filesystem;
using platform::DialogPresenter;

namespace {

constexpr const char* kPackageExtension = "ktshow";
constexpr const char* kFolderBookmarkPrefix = "projectFolderBookmark_";
constexpr const char* kLogFileName = "app.log";

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool hasPackageExtension(const fs::path& url) {
    return lowercase(url.extension().string()) == std::string(".") + kPackageExtension;
}

// A name typed without the package extension gets it ("Show.json" becomes "Show.json.ktshow").
fs::path withPackageExtension(fs::path url) {
    if (!hasPackageExtension(url)) {
        url += std::string(".") + kPackageExtension;
    }
    return url;
}

std::string lastComponent(const fs::path& url) {
    return url.filename().string();
}

std::optional<platform::Bytes> folderBookmark(const platform::BookmarkService& bookmarks,
                                              const fs::path& url) {
    try {
        return bookmarks.bookmarkData(url, platform::BookmarkOption::withSecurityScope);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The slots' file locations and nothing else: what a warm-up needs of the project as it was
// loaded, without a second copy of its thumbnails.
ProjectData fileLocationsOf(const ProjectData& project) {
    ProjectData locations;
    locations.rows = project.rows;
    locations.columns = project.columns;
    locations.banks.resize(project.banks.size());
    for (std::size_t b = 0; b < project.banks.size(); ++b) {
        const auto& slots = project.banks[b].slots;
        locations.banks[b].slots.resize(slots.size());
        for (std::size_t s = 0; s < slots.size(); ++s) {
            locations.banks[b].slots[s].videoURL = slots[s].videoURL;
        }
    }
    return locations;
}

}  // namespace

struct ShowController::ProjectIO {
    // Slot members whose stored texts named unknown values were read as their defaults: each
    // goes to the play log, and the operator is told which slots changed.
    static void reportDefaultedValues(ShowController& show,
                                      const std::vector<std::string>& entries) {
        if (entries.empty()) {
            return;
        }
        for (const std::string& entry : entries) {
            show.playback_.log("不明な値を既定値で読み込み: " + entry);
        }
        show.dialogs_.alert(
            DialogPresenter::AlertStyle::warning,
            L("一部のスロット設定を既定値で読み込みました",
              "Some slot settings were read as their defaults"),
            defaultedValuesText(entries, LocalizationManager::shared().language.get()), {"OK"});
    }

    enum class SaveKind { inPlace, throughPanel, saveAs };

    struct SaveOutcome {
        std::optional<std::string> error;
        std::optional<platform::Bytes> folderBookmark;
    };

    struct LoadOutcome {
        std::optional<ProjectData> project;
        std::optional<std::string> error;
        std::optional<platform::Bytes> folderBookmark;
        std::vector<DefaultedSlotValue> defaulted;
    };

    using SaveDone = std::function<void(bool saved)>;

    static void save(ShowController& show, const fs::path& url, SaveKind kind, SaveDone done = {}) {
        const std::uint64_t generation = show.projectGeneration_;
        const std::uint64_t edits = show.editCount_;
        // The project as it stands now: an import or a warm-up running meanwhile has written
        // only whole slots into it.
        auto job = [&manager = show.projectManager_, &bookmarks = show.bookmarks_,
                    project = show.project_, url, kind]() mutable {
            SaveOutcome outcome;
            try {
                manager.save(std::move(project), url);
            } catch (const std::exception& error) {
                outcome.error = error.what();
                return outcome;
            }
            if (kind != SaveKind::inPlace) {
                outcome.folderBookmark = folderBookmark(bookmarks, url);
            }
            return outcome;
        };
        show.diskWorker().run<SaveOutcome>(
            std::move(job),
            [&show, url, kind, generation, edits, done = std::move(done)](SaveOutcome outcome) {
                const bool saved =
                    finishSave(show, url, kind, generation, edits, std::move(outcome));
                if (done) {
                    done(saved);
                }
            });
    }

    // True when the package was written for the project still open.
    static bool finishSave(ShowController& show, const fs::path& url, SaveKind kind,
                           std::uint64_t generation, std::uint64_t edits, SaveOutcome outcome) {
        if (outcome.error) {
            // Location, play log, unsaved mark and recent list stay as they were.
            show.dialogs_.alert(DialogPresenter::AlertStyle::warning,
                                L("保存に失敗しました", "Save Failed"), *outcome.error, {"OK"});
            return false;
        }
        if (generation != show.projectGeneration_) {
            // Another project was opened or the project closed while this one was written.
            return false;
        }
        if (outcome.folderBookmark) {
            show.defaults_.setData(kFolderBookmarkPrefix + lastComponent(url),
                                   *outcome.folderBookmark);
        }
        show.currentProjectURL = url;
        show.playback_.setLogFileURL(url / kLogFileName);
        show.playback_.reopenLogFile();
        switch (kind) {
            case SaveKind::inPlace:
                show.playback_.log("プロジェクト上書き保存: " + lastComponent(url));
                break;
            case SaveKind::throughPanel:
                show.playback_.log("プロジェクト保存: " + lastComponent(url));
                break;
            case SaveKind::saveAs:
                show.playback_.log("別名保存: " + lastComponent(url));
                break;
        }
        // An edit made while the package was written is not in it: the mark stays.
        if (kind != SaveKind::saveAs && edits == show.editCount_) {
            show.hasUnsavedChanges = false;
        }
        if (kind != SaveKind::inPlace) {
            show.recentProjects_.add(url);
        }
        return true;
    }

    static std::optional<fs::path> askSaveLocation(ShowController& show, const std::string& title,
                                                   const std::string& proposedName) {
        auto url =
            show.dialogs_.savePackage(title, proposedName, L("保存", "Save"), kPackageExtension);
        if (!url) {
            return std::nullopt;
        }
        return withPackageExtension(std::move(*url));
    }

    static void finishLoad(ShowController& show, const fs::path& url, std::uint64_t request,
                           LoadOutcome outcome) {
        if (outcome.folderBookmark) {
            show.defaults_.setData(kFolderBookmarkPrefix + lastComponent(url),
                                   *outcome.folderBookmark);
        }
        if (request != show.loadRequest_) {
            // A later open or a close came first; this package is not wanted any more.
            return;
        }
        std::optional<std::string> problem = outcome.error;
        if (!problem && outcome.project) {
            problem =
                projectShapeProblem(*outcome.project, LocalizationManager::shared().language.get());
        }
        if (problem || !outcome.project) {
            // The open project, its location and every flag stay as they were.
            show.dialogs_.alert(DialogPresenter::AlertStyle::warning,
                                L("読み込みに失敗しました", "Load Failed"), problem.value_or(""),
                                {"OK"});
            return;
        }
        const std::vector<std::string> defaulted =
            defaultedValueEntries(*outcome.project, outcome.defaulted);
        ProjectData warmUpSource = fileLocationsOf(*outcome.project);
        const bool midiInputEnabled = outcome.project->midiInputEnabled;
        const bool showLabels = outcome.project->showMIDIAssignLabels;
        const bool followJump = outcome.project->followJumpEnabled;
        show.replaceProject(std::move(*outcome.project));
        show.currentProjectURL = url;
        show.playback_.setLogFileURL(url / kLogFileName);
        show.playback_.reopenLogFile();
        show.playback_.log("プロジェクト読み込み: " + lastComponent(url));
        show.currentBank = 0;
        show.midi_.isEnabled = midiInputEnabled;
        show.showMIDIAssignLabels = showLabels;
        show.followJump = followJump;
        // The project now equals its file; what the steps below change marks it unsaved.
        show.hasUnsavedChanges = false;
        show.midiRouting_->refreshVisibleMIDIList();
        show.deduplicateMIDIAssignments();
        const std::uint64_t generation = show.projectGeneration_;
        reportDefaultedValues(show, defaulted);
        if (generation != show.projectGeneration_) {
            return;  // another project was opened or the project closed meanwhile
        }
        show.mediaCheck_->checkMissingMedia(
            [&show, url, generation, warmUpSource = std::move(warmUpSource)]() {
                if (generation != show.projectGeneration_) {
                    return;
                }
                show.startWarmUp(warmUpSource);
                show.recentProjects_.add(url);
            });
    }
};

DiskWorker& ShowController::diskWorker() {
    if (!diskWorker_) {
        diskWorker_ = std::make_shared<DiskWorker>(loop_);
    }
    return *diskWorker_;
}

void ShowController::saveProject() {
    saveProject(nullptr);
}

void ShowController::saveProject(std::function<void(bool saved)> done) {
    if (const auto url = currentProjectURL.get()) {
        ProjectIO::save(*this, *url, ProjectIO::SaveKind::inPlace, std::move(done));
        return;
    }
    if (const auto url = ProjectIO::askSaveLocation(*this, L("プロジェクトを保存", "Save Project"),
                                                    "Untitled")) {
        ProjectIO::save(*this, *url, ProjectIO::SaveKind::throughPanel, std::move(done));
        return;
    }
    if (done) {
        done(false);
    }
}

void ShowController::saveProjectAs() {
    const auto current = currentProjectURL.get();
    const std::string proposed = current ? current->stem().string() : "Untitled";
    if (const auto url = ProjectIO::askSaveLocation(*this, L("別名で保存", "Save As"), proposed)) {
        ProjectIO::save(*this, *url, ProjectIO::SaveKind::saveAs);
    }
}

void ShowController::openProject() {
    const auto url = dialogs_.openPackage(
        L("プロジェクトを開く", "Open Project"), L("開く", "Open"),
        L(".ktshowプロジェクトファイルを選択してください", "Select a .ktshow project file"),
        kPackageExtension);
    if (!url) {
        return;
    }
    if (!hasPackageExtension(*url)) {
        dialogs_.alert(DialogPresenter::AlertStyle::warning,
                       L(".ktshowファイルを選択してください", "Please select a .ktshow file"),
                       L("選択: ", "Selected: ") + lastComponent(*url), {"OK"});
        return;
    }
    loadProject(*url);
}

void ShowController::loadProject(const fs::path& url) {
    const std::uint64_t request = ++loadRequest_;
    auto job = [&manager = projectManager_, &bookmarks = bookmarks_, url,
                language = LocalizationManager::shared().language.get()] {
        ProjectIO::LoadOutcome outcome;
        outcome.folderBookmark = folderBookmark(bookmarks, url);
        const bool accessing = bookmarks.startAccessingSecurityScopedResource(url);
        try {
            outcome.project = manager.load(url, &outcome.defaulted);
        } catch (const std::exception& error) {
            // The operator reads why in his words; the console keeps the library's.
            platform::Console::log("load failed: " + url.string() + ": " + error.what());
            outcome.error = projectLoadFailureText(url, error, language);
        }
        if (accessing) {
            bookmarks.stopAccessingSecurityScopedResource(url);
        }
        return outcome;
    };
    diskWorker().run<ProjectIO::LoadOutcome>(
        std::move(job), [this, url, request](ProjectIO::LoadOutcome outcome) {
            ProjectIO::finishLoad(*this, url, request, std::move(outcome));
        });
}

void ShowController::closeProject() {
    const int answer = dialogs_.alert(
        DialogPresenter::AlertStyle::warning, L("プロジェクトを閉じますか？", "Close Project?"),
        L("保存していない変更は失われます。", "Any unsaved changes will be lost."),
        {L("閉じる", "Close"), L("キャンセル", "Cancel")});
    if (answer != 0) {
        return;
    }
    // A package still being read is not opened after the close.
    ++loadRequest_;
    // The output goes black and the playback controller lets go of the clip, so that no
    // timer or observer of it fires into the new project.
    playback_.clearSurface();
    playback_.handlePostRoll(PostRollMode::black);

    ProjectData fresh(kDefaultRows, kDefaultColumns);
    // The MIDI input switch keeps its state (a fresh window's switch is on).
    fresh.midiInputEnabled = midi_.isEnabled.get();
    replaceProject(std::move(fresh));
    currentProjectURL = std::nullopt;
    currentBank = 0;
    isSettingJumpTarget = false;
    replacingSource = std::nullopt;
    editLocked = false;
    slotClipboard = std::nullopt;
    bankClipboard = std::nullopt;
    isSelectMode = false;
    selectedSlots = std::set<int>{};
    cursorSlot = 0;
    midi_.isEnabled = project_.midiInputEnabled;
    showMIDIAssignLabels = project_.showMIDIAssignLabels;
    followJump = project_.followJumpEnabled;
    playback_.setLogFileURL(std::nullopt);
    playback_.reopenLogFile();
    playback_.log("プロジェクトを閉じました");
    midiRouting_->refreshVisibleMIDIList();
}

}  // namespace kestio
