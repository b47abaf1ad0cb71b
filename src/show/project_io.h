#pragma once

// Opening, saving and closing the show's project. Packages are read and written on
// the show's disk worker; the steps that follow resume on the run loop, so the main thread
// never waits on a disk. A save writes the project as it stands when it starts and clears the
// unsaved mark only when no edit came while it was written; a package read opens only when no
// later open or close was asked for meanwhile. An opened project goes on to the missing-media
// check, then to the warm-up.
//
// Owns: the count of edits (the times the project was marked unsaved) and the count of opens and
// closes asked for. The project is the show's; its location is the show's published cell, handed
// over to write. The lock of the open package (held while it is open here, see PackageLock) and
// the stamp of its document as last read or written here, with which a save finds out, before
// it writes, whether another Kestio has the package open or has written it since. What an open
// or a close goes on to in the rest of the show (its state following
// the new project, the MIDI assignments, the missing-media check, the warm-up) it asks through
// its steps.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/project_coding.h"
#include "model/project_data.h"
#include "platform/runloop/published.h"
#include "platform/storage/file_identity.h"
#include "platform/storage/package_lock.h"
#include "platform/storage/user_defaults.h"
#include "show/show_context.h"

namespace kestio {

class ProjectManager;
class RecentProjects;

class ProjectIO {
  public:
    // What opening and closing go on to in the rest of the show.
    struct Steps {
        // The project a close leaves open.
        std::function<ProjectData()> freshProject;
        // The show state follows the project just opened (false) or closed (true).
        std::function<void(bool closed)> followProject;
        // The MIDI assignments panel shows the project's assignments, when it is shown.
        std::function<void()> refreshMIDIList;
        std::function<void()> deduplicateMIDIAssignments;
        // The missing-media check of the project just opened; `then` once it is over.
        std::function<void(std::function<void()> then)> checkMissingMedia;
        std::function<void(const ProjectData& project)> startWarmUp;
    };

    ProjectIO(ShowContext& show, const ProjectManager& projectManager,
              platform::UserDefaults& defaults, RecentProjects& recentProjects,
              platform::Published<std::optional<std::filesystem::path>>& currentProjectURL,
              Steps steps);
    ProjectIO(const ProjectIO&) = delete;
    ProjectIO& operator=(const ProjectIO&) = delete;

    void saveProject();
    // The same, then done(true) once the package is written, or done(false) when the save
    // panel was cancelled or the write failed (its alert shown); exactly once.
    void saveProject(std::function<void(bool saved)> done);
    void saveProjectAs();
    void openProject();
    void loadProject(const std::filesystem::path& url);
    void closeProject();

  private:
    enum class SaveKind { inPlace, throughPanel, saveAs };

    // What stands in the way of writing a package: another Kestio has it open, or its document
    // is no longer the one this window last read or wrote.
    struct WriteHazards {
        bool openElsewhere = false;
        bool changedSince = false;

        bool any() const { return openElsewhere || changedSince; }
        // Whether every hazard of `found` is one the operator has already accepted here.
        bool covers(const WriteHazards& found) const {
            return (openElsewhere || !found.openElsewhere) && (changedSince || !found.changedSince);
        }
    };

    struct SaveOutcome {
        // Not written: the operator is asked first.
        std::optional<WriteHazards> hazards;
        std::optional<std::string> error;
        std::optional<std::string> picturesWarning;  // saved, but not the slot pictures
        std::optional<platform::Bytes> folderBookmark;
        std::optional<platform::PackageLock> lock;       // taken by this save
        std::optional<platform::FileIdentity> document;  // the document as written
    };

    struct LoadOutcome {
        std::optional<ProjectData> project;
        std::optional<std::string> error;
        std::optional<platform::Bytes> folderBookmark;
        std::vector<DefaultedSlotValue> defaulted;
        std::optional<platform::PackageLock> lock;
        bool openElsewhere = false;
        std::optional<platform::FileIdentity> document;  // the document as read
        bool linked = false;  // the package's own name is a link: read, never written through
    };

    using SaveDone = std::function<void(bool saved)>;

    // Writes the package unless something stands in the way that the operator has not
    // accepted (`accepted`); then the operator is asked first, and only a save he chooses
    // goes on.
    void save(const std::filesystem::path& url, SaveKind kind, SaveDone done,
              WriteHazards accepted);
    void save(const std::filesystem::path& url, SaveKind kind, SaveDone done = {}) {
        save(url, kind, std::move(done), WriteHazards());
    }
    // Whether to save over the hazards found; the safe answer, not saving, is the default.
    bool askToSaveOver(const std::filesystem::path& url, const WriteHazards& hazards);
    // True when the package was written for the project still open.
    bool finishSave(const std::filesystem::path& url, SaveKind kind, std::uint64_t generation,
                    std::uint64_t edits, SaveOutcome outcome);
    std::optional<std::filesystem::path> askSaveLocation(const std::string& title,
                                                         const std::string& proposedName);
    void finishLoad(const std::filesystem::path& url, std::uint64_t request, LoadOutcome outcome);
    // Slot members mended as the document was read: each goes to the play log (in Japanese),
    // and the operator is told which slots changed.
    void reportDefaultedValues(const std::vector<std::string>& logEntries,
                               const std::vector<std::string>& entries);

    ShowContext& show_;
    const ProjectManager& projectManager_;
    platform::UserDefaults& defaults_;
    RecentProjects& recentProjects_;
    platform::Published<std::optional<std::filesystem::path>>& currentProjectURL_;
    Steps steps_;
    // Counts the times the project was marked unsaved: a save clears the mark only when no edit
    // came while it was written. Results that land meanwhile (waveforms, pictures) are no edits.
    std::uint64_t editCount_ = 0;
    platform::Subscription editCounter_;
    // The open package's lock, when this window holds it, and its document's stamp as last
    // read or written here.
    std::optional<platform::PackageLock> lock_;
    std::optional<platform::FileIdentity> document_;
    // The document as this window's latest save wrote it, kept on the disk thread, where the
    // saves run one after another: a save asked for while an earlier one was still on its way
    // finds that one's document in place, which the main thread has not heard of yet.
    std::shared_ptr<std::optional<platform::FileIdentity>> lastWritten_ =
        std::make_shared<std::optional<platform::FileIdentity>>();
    // Counts the opens and closes asked for; a package read answers only if no later open or
    // close was asked meanwhile.
    std::uint64_t loadRequest_ = 0;
};

}  // namespace kestio
