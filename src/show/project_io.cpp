#include "show/project_io.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <string>
#include <vector>

#include "control/midi_input_controller.h"
#include "model/localization_manager.h"
#include "model/project_load_failure.h"
#include "model/project_manager.h"
#include "model/project_save_failure.h"
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

ProjectIO::ProjectIO(ShowController& show) : show_(show) {
    editCounter_ = show_.hasUnsavedChanges.subscribe([this](bool unsaved) {
        if (unsaved) {
            ++editCount_;
        }
    });
}

void ProjectIO::reportDefaultedValues(const std::vector<std::string>& entries) {
    if (entries.empty()) {
        return;
    }
    for (const std::string& entry : entries) {
        show_.playback_.log("不明な値を既定値で読み込み: " + entry);
    }
    show_.dialogs_.alert(DialogPresenter::AlertStyle::warning,
                         L("一部のスロット設定を既定値で読み込みました",
                           "Some slot settings were read as their defaults"),
                         defaultedValuesText(entries, LocalizationManager::shared().language.get()),
                         {"OK"});
}

void ProjectIO::save(const fs::path& url, SaveKind kind, SaveDone done) {
    const std::uint64_t generation = show_.projectGeneration_;
    const std::uint64_t edits = editCount_;
    // The project as it stands now: an import or a warm-up running meanwhile has written
    // only whole slots into it.
    auto job = [&manager = show_.projectManager_, &bookmarks = show_.bookmarks_,
                project = show_.project_, url, kind,
                language = LocalizationManager::shared().language.get()]() mutable {
        SaveOutcome outcome;
        std::error_code pictures;
        try {
            manager.save(std::move(project), url, &pictures);
        } catch (const std::exception& error) {
            // The operator reads why in his words; the console keeps the library's.
            platform::Console::log("save failed: " + url.string() + ": " + error.what());
            outcome.error = projectSaveFailureText(url, error, language);
            return outcome;
        }
        if (pictures) {
            outcome.picturesWarning = picturesNotSavedText(url, pictures, language);
        }
        if (kind != SaveKind::inPlace) {
            outcome.folderBookmark = folderBookmark(bookmarks, url);
        }
        return outcome;
    };
    show_.diskWorker().run<SaveOutcome>(
        std::move(job),
        [this, url, kind, generation, edits, done = std::move(done)](SaveOutcome outcome) {
            const bool saved = finishSave(url, kind, generation, edits, std::move(outcome));
            if (done) {
                done(saved);
            }
        });
}

bool ProjectIO::finishSave(const fs::path& url, SaveKind kind, std::uint64_t generation,
                           std::uint64_t edits, SaveOutcome outcome) {
    if (outcome.error) {
        // Location, play log, unsaved mark and recent list stay as they were.
        show_.dialogs_.alert(DialogPresenter::AlertStyle::warning,
                             L("保存に失敗しました", "Save Failed"), *outcome.error, {"OK"});
        return false;
    }
    if (generation != show_.projectGeneration_) {
        // Another project was opened or the project closed while this one was written.
        return false;
    }
    if (outcome.folderBookmark) {
        show_.defaults_.setData(kFolderBookmarkPrefix + lastComponent(url),
                                *outcome.folderBookmark);
    }
    show_.currentProjectURL = url;
    show_.playback_.setLogFileURL(url / kLogFileName);
    show_.playback_.reopenLogFile();
    switch (kind) {
        case SaveKind::inPlace:
            show_.playback_.log("プロジェクト上書き保存: " + lastComponent(url));
            break;
        case SaveKind::throughPanel:
            show_.playback_.log("プロジェクト保存: " + lastComponent(url));
            break;
        case SaveKind::saveAs:
            show_.playback_.log("別名保存: " + lastComponent(url));
            break;
    }
    // An edit made while the package was written is not in it: the mark stays.
    if (kind != SaveKind::saveAs && edits == editCount_) {
        show_.hasUnsavedChanges = false;
    }
    if (kind != SaveKind::inPlace) {
        show_.recentProjects_.add(url);
    }
    if (outcome.picturesWarning) {
        show_.dialogs_.alert(DialogPresenter::AlertStyle::warning,
                             L("サムネイルを保存できませんでした", "Thumbnails Not Saved"),
                             *outcome.picturesWarning, {"OK"});
    }
    return true;
}

std::optional<fs::path> ProjectIO::askSaveLocation(const std::string& title,
                                                   const std::string& proposedName) {
    auto url =
        show_.dialogs_.savePackage(title, proposedName, L("保存", "Save"), kPackageExtension);
    if (!url) {
        return std::nullopt;
    }
    return withPackageExtension(std::move(*url));
}

void ProjectIO::finishLoad(const fs::path& url, std::uint64_t request, LoadOutcome outcome) {
    if (outcome.folderBookmark) {
        show_.defaults_.setData(kFolderBookmarkPrefix + lastComponent(url),
                                *outcome.folderBookmark);
    }
    if (request != loadRequest_) {
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
        show_.dialogs_.alert(DialogPresenter::AlertStyle::warning,
                             L("読み込みに失敗しました", "Load Failed"), problem.value_or(""),
                             {"OK"});
        return;
    }
    const std::vector<std::string> defaulted =
        defaultedValueEntries(*outcome.project, outcome.defaulted);
    ProjectData warmUpSource = fileLocationsOf(*outcome.project);
    const bool midiInputEnabled = outcome.project->midiInputEnabled;
    const bool showLabels = outcome.project->showMIDIAssignLabels;
    const bool followJumpEnabled = outcome.project->followJumpEnabled;
    show_.replaceProject(std::move(*outcome.project));
    show_.currentProjectURL = url;
    show_.playback_.setLogFileURL(url / kLogFileName);
    show_.playback_.reopenLogFile();
    show_.playback_.log("プロジェクト読み込み: " + lastComponent(url));
    show_.currentBank = 0;
    show_.midi_.isEnabled = midiInputEnabled;
    show_.showMIDIAssignLabels = showLabels;
    show_.followJump = followJumpEnabled;
    // The project now equals its file; what the steps below change marks it unsaved.
    show_.hasUnsavedChanges = false;
    show_.midiRouting_->refreshVisibleMIDIList();
    show_.midiRouting().deduplicateMIDIAssignments();
    const std::uint64_t generation = show_.projectGeneration_;
    reportDefaultedValues(defaulted);
    if (generation != show_.projectGeneration_) {
        return;  // another project was opened or the project closed meanwhile
    }
    show_.mediaCheck_->checkMissingMedia(
        [this, url, generation, warmUpSource = std::move(warmUpSource)]() {
            if (generation != show_.projectGeneration_) {
                return;
            }
            show_.startWarmUp(warmUpSource);
            show_.recentProjects_.add(url);
        });
}

void ProjectIO::saveProject() {
    saveProject(nullptr);
}

void ProjectIO::saveProject(std::function<void(bool saved)> done) {
    if (const auto url = show_.currentProjectURL.get()) {
        save(*url, SaveKind::inPlace, std::move(done));
        return;
    }
    if (const auto url = askSaveLocation(L("プロジェクトを保存", "Save Project"), "Untitled")) {
        save(*url, SaveKind::throughPanel, std::move(done));
        return;
    }
    if (done) {
        done(false);
    }
}

void ProjectIO::saveProjectAs() {
    const auto current = show_.currentProjectURL.get();
    const std::string proposed = current ? current->stem().string() : "Untitled";
    if (const auto url = askSaveLocation(L("別名で保存", "Save As"), proposed)) {
        save(*url, SaveKind::saveAs);
    }
}

void ProjectIO::openProject() {
    const auto url = show_.dialogs_.openPackage(
        L("プロジェクトを開く", "Open Project"), L("開く", "Open"),
        L(".ktshowプロジェクトファイルを選択してください", "Select a .ktshow project file"),
        kPackageExtension);
    if (!url) {
        return;
    }
    if (!hasPackageExtension(*url)) {
        show_.dialogs_.alert(DialogPresenter::AlertStyle::warning,
                             L(".ktshowファイルを選択してください", "Please select a .ktshow file"),
                             L("選択: ", "Selected: ") + lastComponent(*url), {"OK"});
        return;
    }
    loadProject(*url);
}

void ProjectIO::loadProject(const fs::path& url) {
    const std::uint64_t request = ++loadRequest_;
    auto job = [&manager = show_.projectManager_, &bookmarks = show_.bookmarks_, url,
                language = LocalizationManager::shared().language.get()] {
        LoadOutcome outcome;
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
    show_.diskWorker().run<LoadOutcome>(std::move(job), [this, url, request](LoadOutcome outcome) {
        finishLoad(url, request, std::move(outcome));
    });
}

void ProjectIO::closeProject() {
    const int answer = show_.dialogs_.alert(
        DialogPresenter::AlertStyle::warning, L("プロジェクトを閉じますか？", "Close Project?"),
        L("保存していない変更は失われます。", "Any unsaved changes will be lost."),
        {{L("閉じる", "Close"), DialogPresenter::ButtonRole::destructive},
         {L("キャンセル", "Cancel"), DialogPresenter::ButtonRole::cancel}});
    if (answer != 0) {
        return;
    }
    // A package still being read is not opened after the close.
    ++loadRequest_;
    // The output goes black and the playback controller lets go of the clip, so that no
    // timer or observer of it fires into the new project.
    show_.playback_.clearSurface();
    show_.playback_.handlePostRoll(PostRollMode::black);

    ProjectData fresh(ShowController::kDefaultRows, ShowController::kDefaultColumns);
    // The MIDI input switch keeps its state (a fresh window's switch is on).
    fresh.midiInputEnabled = show_.midi_.isEnabled.get();
    show_.replaceProject(std::move(fresh));
    show_.currentProjectURL = std::nullopt;
    show_.currentBank = 0;
    show_.isSettingJumpTarget = false;
    show_.replacingSource = std::nullopt;
    show_.editLocked = false;
    show_.slotClipboard = std::nullopt;
    show_.bankClipboard = std::nullopt;
    show_.isSelectMode = false;
    show_.selectedSlots = std::set<int>{};
    show_.cursorSlot = 0;
    show_.midi_.isEnabled = show_.project_.midiInputEnabled;
    show_.showMIDIAssignLabels = show_.project_.showMIDIAssignLabels;
    show_.followJump = show_.project_.followJumpEnabled;
    show_.playback_.setLogFileURL(std::nullopt);
    show_.playback_.reopenLogFile();
    show_.playback_.log("プロジェクトを閉じました");
    show_.midiRouting_->refreshVisibleMIDIList();
}

}  // namespace kestio
