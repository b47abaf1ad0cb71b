#pragma once

// Importing files into the show's grid: a drop (held for the operator's go-ahead
// while a clip plays), the files' slots chosen from the free ones, each file probed in turn and
// written into its slot, then a display check that plays the new video clips hidden and takes
// back any whose picture does not come in time. Results are written only into the project the
// import was started for and into slots still empty; a replaced project stops the import.
//
// Owns: the slots promised to imports still running (no other import takes them) and each
// import's job. The loading count and the hidden plays' queue are shared with the warm-up; the
// alerts the views read are the show's published cells, handed over to write. Its deferred steps
// hold its lifetime, so none runs after it is gone. A new clip is played, and one that fails its
// display check removed, through the actions it is given.

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
#include "platform/runloop/published.h"
#include "show/show_context.h"
#include "show/slot_location.h"

namespace kestio {

class HiddenPlays;
class LoadingCount;

class ShowImport {
  public:
    // How long a new clip's picture may take to be ready for display before it is taken out.
    static constexpr double kDisplayTimeout = 5.0;  // seconds

    // The show state an import reads and the alerts it raises.
    struct Cells {
        const platform::Published<std::optional<std::filesystem::path>>& currentProjectURL;
        platform::Published<bool>& showNoProjectAlert;
        platform::Published<std::function<void()>>& confirmImportWhilePlaying;
        platform::Published<std::optional<std::string>>& importAlert;
    };
    // What an import asks of the rest of the show.
    struct Actions {
        // Plays the slot as a cue is played (hidden, as the hidden plays are under way).
        std::function<void(int bank, int slot)> playSlot;
        // Removes the slot's clip.
        std::function<void(int bank, int slot)> deleteClip;
    };

    ShowImport(ShowContext& show, HiddenPlays& hiddenPlays, LoadingCount& loading, Cells cells,
               Actions actions)
        : show_(show),
          hiddenPlays_(hiddenPlays),
          loading_(loading),
          cells_(cells),
          actions_(std::move(actions)) {}
    ShowImport(const ShowImport&) = delete;
    ShowImport& operator=(const ShowImport&) = delete;

    void handleDrop(const std::vector<std::filesystem::path>& urls, int bank, int slot);
    void importFiles(const std::vector<std::filesystem::path>& urls, int bank, int slot);

    // The import alert has shown `shown`: those lines are taken from it, and what was added
    // while it was open stays, to be shown next.
    void importAlertShown(const std::string& shown);

  private:
    struct ImportJob;

    void runImportStep(const std::shared_ptr<ImportJob>& job, std::size_t index);
    void finishImportProbe(const std::shared_ptr<ImportJob>& job, std::size_t index,
                           ImportOutcome outcome);
    void runDisplayCheck(const std::shared_ptr<ImportJob>& job, std::size_t index);
    void saveThumbnail(int bank, int slot, const std::filesystem::path& url,
                       std::optional<std::vector<std::uint8_t>> bookmark, double time);
    void abandonImport(const std::shared_ptr<ImportJob>& job);
    void releaseReservations(ImportJob& job);

    ShowContext& show_;
    HiddenPlays& hiddenPlays_;
    LoadingCount& loading_;
    Cells cells_;
    Actions actions_;
    std::set<SlotLocation> reservedSlots_;
    std::shared_ptr<ShowImport*> alive_ = std::make_shared<ShowImport*>(this);
};

}  // namespace kestio
