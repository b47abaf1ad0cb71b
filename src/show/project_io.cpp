#include "show/project_io.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <string>
#include <vector>

#include "model/localization_manager.h"
#include "model/project_load_failure.h"
#include "model/project_manager.h"
#include "model/project_save_failure.h"
#include "model/recent_projects.h"
#include "platform/runloop/console.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/file_identity.h"
#include "platform/storage/package_lock.h"
#include "platform/storage/user_defaults.h"
#include "platform/ui/dialog_presenter.h"
#include "show/defaulted_values_text.h"
#include "show/disk_worker.h"
#include "show/project_shape.h"
#include "show/show_playback.h"
#include "show/show_project.h"

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

ProjectIO::ProjectIO(ShowContext& show, const ProjectManager& projectManager,
                     platform::UserDefaults& defaults, RecentProjects& recentProjects,
                     platform::Published<std::optional<fs::path>>& currentProjectURL, Steps steps)
    : show_(show),
      projectManager_(projectManager),
      defaults_(defaults),
      recentProjects_(recentProjects),
      currentProjectURL_(currentProjectURL),
      steps_(std::move(steps)) {
    editCounter_ = show_.project.unsavedMark().subscribe([this](bool unsaved) {
        if (unsaved) {
            ++editCount_;
        }
    });
}

void ProjectIO::reportDefaultedValues(const std::vector<std::string>& logEntries,
                                      const std::vector<std::string>& entries) {
    if (entries.empty()) {
        return;
    }
    for (const std::string& entry : logEntries) {
        show_.playback.log("設定値を補正して読み込み: " + entry);
    }
    show_.dialogs.alert(DialogPresenter::AlertStyle::warning,
                        L("一部のスロット設定を補正して読み込みました",
                          "Some slot settings were corrected as the show was read"),
                        defaultedValuesText(entries, LocalizationManager::shared().language.get()),
                        {"OK"});
}

void ProjectIO::save(const fs::path& url, SaveKind kind, SaveDone done, WriteHazards accepted) {
    const std::uint64_t generation = show_.project.generation();
    const std::uint64_t edits = editCount_;
    // This window holds the package's lock, so no other Kestio has it open; its document is
    // expected as this window last read or wrote it.
    const bool held = lock_ && lock_->package() == url;
    const std::optional<platform::FileIdentity> expected =
        currentProjectURL_.get() == url ? document_ : std::nullopt;
    // The project as it stands now: an import or a warm-up running meanwhile has written
    // only whole slots into it.
    auto job = [&manager = projectManager_, &bookmarks = show_.bookmarks,
                project = show_.project.data(), url, kind, held, expected, accepted,
                lastWritten = lastWritten_,
                language = LocalizationManager::shared().language.get()]() mutable {
        SaveOutcome outcome;
        // Looked at just before the write, on this thread, so nothing comes between.
        WriteHazards found;
        if (!held) {
            outcome.lock = platform::PackageLock::acquire(url);
            found.openElsewhere = !outcome.lock && platform::PackageLock::probe(url) ==
                                                       platform::PackageLock::State::heldElsewhere;
        }
        if (expected) {
            // Another's document in its place, not one gone or a folder in the way: writing
            // there loses nothing of anyone's.
            const fs::path document = url / ProjectManager::kDataFileName;
            const auto now = platform::FileIdentity::of(document);
            std::error_code typeError;
            found.changedSince =
                now && now != expected && now != *lastWritten &&
                fs::symlink_status(document, typeError).type() == fs::file_type::regular;
        }
        if (found.any() && !accepted.covers(found)) {
            outcome.hazards = found;
            return outcome;
        }
        std::error_code pictures;
        try {
            manager.save(std::move(project), url, &pictures);
        } catch (const std::exception& error) {
            // The operator reads why in his words; the console keeps the library's.
            platform::Console::log("save failed: " + url.string() + ": " + error.what());
            outcome.error = projectSaveFailureText(url, error, language);
            return outcome;
        }
        if (!held && !outcome.lock && !found.openElsewhere) {
            outcome.lock = platform::PackageLock::acquire(url);  // a package made by this save
        }
        outcome.document = platform::FileIdentity::of(url / ProjectManager::kDataFileName);
        *lastWritten = outcome.document;
        if (pictures) {
            outcome.picturesWarning = picturesNotSavedText(url, pictures, language);
        }
        if (kind != SaveKind::inPlace) {
            outcome.folderBookmark = folderBookmark(bookmarks, url);
        }
        return outcome;
    };
    show_.diskWorker().run<SaveOutcome>(std::move(job), [this, url, kind, generation, edits,
                                                         done = std::move(done)](
                                                            SaveOutcome outcome) mutable {
        if (outcome.hazards) {
            if (generation == show_.project.generation() && askToSaveOver(url, *outcome.hazards)) {
                save(url, kind, std::move(done), *outcome.hazards);
            } else if (done) {
                done(false);
            }
            return;
        }
        const bool saved = finishSave(url, kind, generation, edits, std::move(outcome));
        if (done) {
            done(saved);
        }
    });
}

bool ProjectIO::askToSaveOver(const fs::path& url, const WriteHazards& hazards) {
    const std::string message =
        hazards.openElsewhere ? L("このプロジェクトは別の Kestio で開かれています",
                                  "This project is open in another Kestio")
                              : L("このプロジェクトは、ここで開いた後にほかで保存されています",
                                  "This project was saved elsewhere after it was opened here");
    std::string informative = url.string() + "\n";
    if (hazards.changedSince) {
        informative +=
            L("保存すると、ほかで保存された内容がこのウィンドウのショーで置き換えられます。",
              "Saving replaces what was saved there with this window's show.");
    } else {
        informative +=
            L("保存すると、ディスク上のショーがこのウィンドウのショーで置き換えられます。",
              "Saving replaces the show on disk with this window's show.");
    }
    if (hazards.openElsewhere) {
        informative += "\n" + L("もう一方の Kestio で保存すると、再び置き換えられます。",
                                "A save in the other Kestio replaces it again.");
    }
    const int answer = show_.dialogs.alert(
        DialogPresenter::AlertStyle::warning, message, informative,
        {{L("それでも保存", "Save Anyway"), DialogPresenter::ButtonRole::destructive},
         {L("保存しない", "Don't Save"), DialogPresenter::ButtonRole::cancel}});
    return answer == 0;
}

bool ProjectIO::finishSave(const fs::path& url, SaveKind kind, std::uint64_t generation,
                           std::uint64_t edits, SaveOutcome outcome) {
    if (outcome.error) {
        // Location, play log, unsaved mark and recent list stay as they were.
        show_.dialogs.alert(DialogPresenter::AlertStyle::warning,
                            L("保存に失敗しました", "Save Failed"), *outcome.error, {"OK"});
        return false;
    }
    if (generation != show_.project.generation()) {
        // Another project was opened or the project closed while this one was written.
        return false;
    }
    if (outcome.folderBookmark) {
        defaults_.setData(kFolderBookmarkPrefix + lastComponent(url), *outcome.folderBookmark);
    }
    if (outcome.lock) {
        lock_ = std::move(outcome.lock);
    } else if (!(lock_ && lock_->package() == url)) {
        lock_.reset();  // another Kestio holds the new location's lock; the operator knows
    }
    document_ = outcome.document;
    currentProjectURL_ = url;
    show_.playback.setLogFileURL(url / kLogFileName);
    show_.playback.reopenLogFile();
    switch (kind) {
        case SaveKind::inPlace:
            show_.playback.log("プロジェクト上書き保存: " + lastComponent(url));
            break;
        case SaveKind::throughPanel:
            show_.playback.log("プロジェクト保存: " + lastComponent(url));
            break;
        case SaveKind::saveAs:
            show_.playback.log("別名保存: " + lastComponent(url));
            break;
    }
    // An edit made while the package was written is not in it: the mark stays.
    if (kind != SaveKind::saveAs && edits == editCount_) {
        show_.project.markSaved();
    }
    if (kind != SaveKind::inPlace) {
        recentProjects_.add(url);
    }
    if (outcome.picturesWarning) {
        show_.dialogs.alert(DialogPresenter::AlertStyle::warning,
                            L("サムネイルを保存できませんでした", "Thumbnails Not Saved"),
                            *outcome.picturesWarning, {"OK"});
    }
    return true;
}

std::optional<fs::path> ProjectIO::askSaveLocation(const std::string& title,
                                                   const std::string& proposedName) {
    auto url = show_.dialogs.savePackage(title, proposedName, L("保存", "Save"), kPackageExtension);
    if (!url) {
        return std::nullopt;
    }
    if (hasPackageExtension(*url)) {
        return url;  // the panel asked before a package of this name was replaced
    }
    // The panel did not know the name the extension makes: the question is asked here.
    fs::path package = withPackageExtension(std::move(*url));
    std::error_code error;
    if (fs::exists(fs::symlink_status(package, error)) &&
        show_.dialogs.alert(
            DialogPresenter::AlertStyle::warning,
            L("「" + lastComponent(package) + "」は既に存在します。置き換えますか？",
              "\"" + lastComponent(package) + "\" already exists. Do you want to replace it?"),
            "",
            {{L("置き換える", "Replace"), DialogPresenter::ButtonRole::destructive},
             {L("キャンセル", "Cancel"), DialogPresenter::ButtonRole::cancel}}) != 0) {
        return std::nullopt;
    }
    return package;
}

void ProjectIO::finishLoad(const fs::path& url, std::uint64_t request, LoadOutcome outcome) {
    if (outcome.folderBookmark) {
        defaults_.setData(kFolderBookmarkPrefix + lastComponent(url), *outcome.folderBookmark);
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
        show_.dialogs.alert(DialogPresenter::AlertStyle::warning,
                            L("読み込みに失敗しました", "Load Failed"), problem.value_or(""),
                            {"OK"});
        return;
    }
    // The play log is written in Japanese whatever the interface language.
    const std::vector<std::string> defaultedLog =
        defaultedValueEntries(*outcome.project, outcome.defaulted, AppLanguage::ja);
    const std::vector<std::string> defaulted = defaultedValueEntries(
        *outcome.project, outcome.defaulted, LocalizationManager::shared().language.get());
    ProjectData warmUpSource = fileLocationsOf(*outcome.project);
    show_.project.replace(std::move(*outcome.project));
    if (outcome.lock || !(lock_ && lock_->package() == url)) {
        lock_ = std::move(outcome.lock);
    }
    document_ = outcome.document;
    currentProjectURL_ = url;
    if (outcome.linked) {
        platform::Console::log("play log: not written through the link " + url.string());
    }
    show_.playback.setLogFileURL(outcome.linked ? std::nullopt : std::optional(url / kLogFileName));
    show_.playback.reopenLogFile();
    show_.playback.log("プロジェクト読み込み: " + lastComponent(url));
    steps_.followProject(false);
    // The project now equals its file; what the steps below change marks it unsaved.
    show_.project.markSaved();
    steps_.refreshMIDIList();
    steps_.deduplicateMIDIAssignments();
    const std::uint64_t generation = show_.project.generation();
    reportDefaultedValues(defaultedLog, defaulted);
    if (outcome.openElsewhere && generation == show_.project.generation()) {
        // Each save asks again before it writes.
        show_.dialogs.alert(DialogPresenter::AlertStyle::warning,
                            L("このプロジェクトは別の Kestio で開かれています",
                              "This project is open in another Kestio"),
                            url.string() + "\n" +
                                L("両方で保存すると、後の保存が先の保存を上書きします。",
                                  "Saving in both overwrites one's saves with the other's."),
                            {});
    }
    if (generation != show_.project.generation()) {
        return;  // another project was opened or the project closed meanwhile
    }
    steps_.checkMissingMedia([this, url, generation, warmUpSource = std::move(warmUpSource)]() {
        if (generation != show_.project.generation()) {
            return;
        }
        steps_.startWarmUp(warmUpSource);
        recentProjects_.add(url);
    });
}

void ProjectIO::saveProject() {
    saveProject(nullptr);
}

void ProjectIO::saveProject(std::function<void(bool saved)> done) {
    if (const auto url = currentProjectURL_.get()) {
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
    const auto current = currentProjectURL_.get();
    const std::string proposed = current ? current->stem().string() : "Untitled";
    if (const auto url = askSaveLocation(L("別名で保存", "Save As"), proposed)) {
        save(*url, SaveKind::saveAs);
    }
}

void ProjectIO::openProject() {
    const auto url = show_.dialogs.openPackage(
        L("プロジェクトを開く", "Open Project"), L("開く", "Open"),
        L(".ktshowプロジェクトファイルを選択してください", "Select a .ktshow project file"),
        kPackageExtension);
    if (!url) {
        return;
    }
    if (!hasPackageExtension(*url)) {
        show_.dialogs.alert(DialogPresenter::AlertStyle::warning,
                            L(".ktshowファイルを選択してください", "Please select a .ktshow file"),
                            L("選択: ", "Selected: ") + lastComponent(*url), {"OK"});
        return;
    }
    loadProject(*url);
}

void ProjectIO::loadProject(const fs::path& url) {
    const std::uint64_t request = ++loadRequest_;
    const bool held = lock_ && lock_->package() == url;  // opened again here
    auto job = [&manager = projectManager_, &bookmarks = show_.bookmarks, url, held,
                language = LocalizationManager::shared().language.get()] {
        LoadOutcome outcome;
        outcome.folderBookmark = folderBookmark(bookmarks, url);
        const bool accessing = bookmarks.startAccessingSecurityScopedResource(url);
        if (!held) {
            outcome.lock = platform::PackageLock::acquire(url);
            outcome.openElsewhere =
                !outcome.lock &&
                platform::PackageLock::probe(url) == platform::PackageLock::State::heldElsewhere;
        }
        std::error_code linkError;
        outcome.linked = fs::is_symlink(fs::symlink_status(url, linkError));
        // Stamped before it is read: a write in between makes the next save ask, never the
        // other way round.
        outcome.document = platform::FileIdentity::of(url / ProjectManager::kDataFileName);
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
    const int answer = show_.dialogs.alert(
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
    show_.playback.clearSurface();
    show_.playback.handlePostRoll(PostRollMode::black);

    // The default project, with the MIDI input switch as it stands.
    show_.project.replace(steps_.freshProject());
    lock_.reset();
    document_.reset();
    currentProjectURL_ = std::nullopt;
    steps_.followProject(true);
    show_.playback.setLogFileURL(std::nullopt);
    show_.playback.reopenLogFile();
    show_.playback.log("プロジェクトを閉じました");
    steps_.refreshMIDIList();
}

}  // namespace kestio
