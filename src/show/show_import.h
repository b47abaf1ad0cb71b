#pragma once

// Importing files into the show controller's grid: a drop (held for the operator's go-ahead
// while a clip plays), the files' slots chosen from the free ones, each file probed in turn and
// written into its slot, then a display check that plays the new video clips hidden and takes
// back any whose picture does not come in time. Results are written only into the project the
// import was started for and into slots still empty; a replaced project stops the import.
//
// Owns: the slots promised to imports still running (no other import takes them) and each
// import's job. The loading count, the hidden plays' queue and the alerts the views read are the
// controller's.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "import/import_result.h"
#include "show/show_controller.h"

namespace kestio {

class ShowImport {
  public:
    explicit ShowImport(ShowController& show) : show_(show) {}
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

    ShowController& show_;
    std::set<SlotLocation> reservedSlots_;
};

}  // namespace kestio
