#pragma once

// Opening, saving and closing the show controller's project. Packages are read and written on
// the controller's disk worker; the steps that follow resume on the run loop, so the main thread
// never waits on a disk. A save writes the project as it stands when it starts and clears the
// unsaved mark only when no edit came while it was written; a package read opens only when no
// later open or close was asked for meanwhile. An opened project goes on to the missing-media
// check, then to the warm-up.
//
// Owns: the count of edits (the times the project was marked unsaved) and the count of opens and
// closes asked for. The project, its location and the published flags it sets are the
// controller's.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/project_coding.h"
#include "model/project_data.h"
#include "platform/runloop/published.h"
#include "platform/storage/user_defaults.h"

namespace kestio {

class ShowController;

class ProjectIO {
  public:
    explicit ProjectIO(ShowController& show);
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

    struct SaveOutcome {
        std::optional<std::string> error;
        std::optional<std::string> picturesWarning;  // saved, but not the slot pictures
        std::optional<platform::Bytes> folderBookmark;
    };

    struct LoadOutcome {
        std::optional<ProjectData> project;
        std::optional<std::string> error;
        std::optional<platform::Bytes> folderBookmark;
        std::vector<DefaultedSlotValue> defaulted;
    };

    using SaveDone = std::function<void(bool saved)>;

    void save(const std::filesystem::path& url, SaveKind kind, SaveDone done = {});
    // True when the package was written for the project still open.
    bool finishSave(const std::filesystem::path& url, SaveKind kind, std::uint64_t generation,
                    std::uint64_t edits, SaveOutcome outcome);
    std::optional<std::filesystem::path> askSaveLocation(const std::string& title,
                                                         const std::string& proposedName);
    void finishLoad(const std::filesystem::path& url, std::uint64_t request, LoadOutcome outcome);
    // Slot members whose stored texts named unknown values were read as their defaults: each
    // goes to the play log, and the operator is told which slots changed.
    void reportDefaultedValues(const std::vector<std::string>& entries);

    ShowController& show_;
    // Counts the times the project was marked unsaved: a save clears the mark only when no edit
    // came while it was written. Results that land meanwhile (waveforms, pictures) are no edits.
    std::uint64_t editCount_ = 0;
    platform::Subscription editCounter_;
    // Counts the opens and closes asked for; a package read answers only if no later open or
    // close was asked meanwhile.
    std::uint64_t loadRequest_ = 0;
};

}  // namespace kestio
