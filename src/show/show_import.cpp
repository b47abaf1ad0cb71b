#include "show/show_import.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "import/clip_importer.h"
#include "model/localization_manager.h"
#include "model/project_manager.h"
#include "model/thumbnail_naming.h"
#include "platform/runloop/console.h"
#include "platform/storage/bookmark_service.h"
#include "show/hidden_plays.h"
#include "show/loading_count.h"
#include "show/show_importer.h"
#include "show/show_playback.h"
#include "show/show_project.h"

namespace kestio {

// One importFiles() call, from its start until its display check ends.
struct ShowImport::ImportJob {
    std::uint64_t generation = 0;
    std::vector<ClipImporter::SlotAssignment> assignments;
    std::vector<SlotLocation> filled;
    std::vector<std::string> takenOut;
    bool probing = true;
    // Ends the display check's turn among the hidden plays (empty until its turn has come).
    HiddenPlays::Done checkDone;
};

namespace {

// Each message of an import is kept on lines of its own after those still waiting to be shown,
// so that no refusal replaces another.
void appendAlertLine(platform::Published<std::optional<std::string>>& alert,
                     const std::string& text) {
    const auto& current = alert.get();
    if (!current || current->empty()) {
        alert = text;
    } else if (current->back() == '\n') {
        alert = *current + text;
    } else {
        alert = *current + "\n" + text;
    }
}

std::string bankSlotText(int bank, int slot) {
    return "BANK" + std::to_string(bank + 1) + " SLOT" + std::to_string(slot + 1);
}

}  // namespace

// Empties the alert. GCC 12 with the sanitizers wrongly takes the payload of the empty optional
// handed to the published value for read before it is written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
void ShowImport::importAlertShown(const std::string& shown) {
    const auto& current = cells_.importAlert.get();
    if (!current) {
        return;
    }
    if (current->compare(0, shown.size(), shown) != 0) {
        return;  // not what was shown: all of it is still to be shown
    }
    std::string rest = current->substr(shown.size());
    if (!rest.empty() && rest.front() == '\n') {
        rest.erase(0, 1);
    }
    if (rest.empty()) {
        cells_.importAlert = std::nullopt;
    } else {
        cells_.importAlert = std::move(rest);
    }
}
#pragma GCC diagnostic pop

void ShowImport::handleDrop(const std::vector<std::filesystem::path>& urls, int bank, int slot) {
    if (!cells_.currentProjectURL.get()) {
        cells_.showNoProjectAlert = true;
        return;
    }
    // While clips are being prepared the grid says drops are off, and they are.
    if (loading_.any()) {
        platform::Console::log("Import: " + std::to_string(urls.size()) +
                               " dropped files ignored while clips are loading");
        return;
    }
    if (show_.playback.onAirOrOnItsWay()) {
        std::weak_ptr<ShowImport*> alive = alive_;
        cells_.confirmImportWhilePlaying = [alive, urls, bank, slot] {
            if (auto self = alive.lock()) {
                (*self)->importFiles(urls, bank, slot);
            }
        };
        return;
    }
    importFiles(urls, bank, slot);
}

void ShowImport::importFiles(const std::vector<std::filesystem::path>& urls, int bank, int slot) {
    for (const auto& url : urls) {
        show_.bookmarks.startAccessingSecurityScopedResource(url);
    }
    show_.playback.log("インポート開始: " + std::to_string(urls.size()) + "件 → " +
                       bankSlotText(bank, slot));

    // Slots promised to imports still running, and slots whose file is missing (they hold a
    // reference that a relink will restore), are not free.
    ProjectData view = show_.project.data();
    for (std::size_t b = 0; b < view.banks.size(); ++b) {
        for (std::size_t s = 0; s < view.banks[b].slots.size(); ++s) {
            auto& record = view.banks[b].slots[s];
            const SlotLocation where{static_cast<int>(b), static_cast<int>(s)};
            if (record.isFileMissing || reservedSlots_.count(where)) {
                record.videoURL = std::filesystem::path("/");
            }
        }
    }
    auto split = ClipImporter::filterSupported(urls, view, bank, slot);

    std::vector<std::string> unsupported;
    std::size_t noFreeSlot = 0;
    for (const auto& url : split.rejected) {
        if (ProjectManager::mediaType(url)) {
            ++noFreeSlot;
        } else {
            unsupported.push_back(url.filename().string());
        }
    }
    if (!unsupported.empty() || noFreeSlot > 0) {
        std::string message;
        if (!unsupported.empty()) {
            message += "非対応形式: ";
            for (std::size_t i = 0; i < unsupported.size(); ++i) {
                message += (i ? ", " : "") + unsupported[i];
            }
            message += "\n";
        }
        if (noFreeSlot > 0) {
            message += "空きスロット不足: " + std::to_string(noFreeSlot) + "個";
        }
        appendAlertLine(cells_.importAlert, message);
    }
    if (split.assignments.empty()) {
        return;
    }

    auto job = std::make_shared<ImportJob>();
    job->generation = show_.project.generation();
    job->assignments = std::move(split.assignments);
    for (const auto& a : job->assignments) {
        reservedSlots_.insert({a.bank, a.slot});
    }
    loading_.begin();
    std::weak_ptr<ShowImport*> alive = alive_;
    show_.loop.post([alive, job] {
        if (auto self = alive.lock()) {
            (*self)->runImportStep(job, 0);
        }
    });
}

void ShowImport::releaseReservations(ImportJob& job) {
    for (const auto& a : job.assignments) {
        reservedSlots_.erase({a.bank, a.slot});
    }
    if (job.probing) {
        job.probing = false;
        loading_.end();
    }
}

void ShowImport::abandonImport(const std::shared_ptr<ImportJob>& job) {
    const bool wasChecking = !job->probing;
    releaseReservations(*job);
    show_.playback.log(
        L("インポート中断: プロジェクトが切り替わったため、残りの取り込みを中止しました",
          "Import stopped: the project was replaced, so the rest of the import was "
          "dropped"));
    platform::Console::log("Import: the project was replaced; the rest of the import is dropped");
    if (wasChecking) {
        if (const auto done = std::exchange(job->checkDone, nullptr)) {
            ShowPlayback& playback = show_.playback;
            done([&playback] { playback.hideSlotLayers(); });
        }
    }
}

void ShowImport::runImportStep(const std::shared_ptr<ImportJob>& job, std::size_t index) {
    if (job->generation != show_.project.generation()) {
        abandonImport(job);
        return;
    }
    if (index >= job->assignments.size()) {
        releaseReservations(*job);
        if (job->filled.empty()) {
            return;
        }
        // The display check plays the new clips hidden, in its turn among the hidden plays.
        std::weak_ptr<ShowImport*> alive = alive_;
        hiddenPlays_.enqueue([alive, job](HiddenPlays::Done done) {
            const auto self = alive.lock();
            if (!self) {
                done({});
                return;
            }
            job->checkDone = std::move(done);
            (*self)->show_.playback.hideSlotLayers();
            (*self)->runDisplayCheck(job, 0);
        });
        return;
    }
    const auto& assignment = job->assignments[index];
    const SlotData* record = show_.project.slotAt(assignment.bank, assignment.slot);
    const double time = record && record->inPoint ? *record->inPoint : 0.0;
    std::weak_ptr<ShowImport*> alive = alive_;
    show_.importer.importMeta(assignment.url, time, [alive, job, index](ImportOutcome outcome) {
        if (auto self = alive.lock()) {
            (*self)->finishImportProbe(job, index, std::move(outcome));
        }
    });
}

void ShowImport::finishImportProbe(const std::shared_ptr<ImportJob>& job, std::size_t index,
                                   ImportOutcome outcome) {
    if (job->generation != show_.project.generation()) {
        abandonImport(job);
        return;
    }
    const auto assignment = job->assignments[index];
    if (const auto* error = std::get_if<ImportError>(&outcome)) {
        appendAlertLine(cells_.importAlert, error->message());
    } else {
        auto& result = std::get<ImportResult>(outcome);
        SlotData* record = show_.project.slotAt(assignment.bank, assignment.slot);
        if (!record || record->videoURL) {
            // Something else filled the slot while the file was probed: it is not overwritten.
            appendAlertLine(cells_.importAlert,
                            L("取り込み先が使用中のため取り込みませんでした: ",
                              "Not imported because its slot was filled meanwhile: ") +
                                assignment.url.filename().string());
        } else {
            const double time = record->inPoint.value_or(0.0);
            record->videoURL = result.url;
            record->bookmarkData = result.bookmark;
            record->name = result.name;
            record->mediaType = result.mediaType;
            record->clipInfo = result.clipInfo;
            record->isFileMissing = false;
            record->thumbnail = result.thumbnail;
            // Without a picture the slot names none: a file of that name in the package shows
            // the clip the slot held before, until the package is saved.
            record->thumbnailFileName = result.thumbnail
                                            ? std::optional<std::string>(thumbnailFileName(
                                                  assignment.bank, assignment.slot))
                                            : std::nullopt;
            job->filled.push_back({assignment.bank, assignment.slot});
            show_.playback.log("インポート完了: " + result.name + " → " +
                               bankSlotText(assignment.bank, assignment.slot));
            show_.project.setUnsaved();
            if (result.mediaType == MediaType::video) {
                saveThumbnail(assignment.bank, assignment.slot, result.url, result.bookmark, time);
            }
        }
    }
    runImportStep(job, index + 1);
}

void ShowImport::runDisplayCheck(const std::shared_ptr<ImportJob>& job, std::size_t index) {
    if (job->generation != show_.project.generation()) {
        abandonImport(job);
        return;
    }
    if (index >= job->filled.size()) {
        if (const auto done = std::exchange(job->checkDone, nullptr)) {
            ShowPlayback& playback = show_.playback;
            done([&playback] {
                playback.handlePostRoll(PostRollMode::black);
                playback.hideSlotLayers();
            });
        }
        if (!job->takenOut.empty()) {
            std::string names;
            for (std::size_t i = 0; i < job->takenOut.size(); ++i) {
                names += (i ? ", " : "") + job->takenOut[i];
            }
            appendAlertLine(cells_.importAlert,
                            "再生できないファイルのため取り込みを取り消しました: " + names);
        }
        return;
    }
    const auto where = job->filled[index];
    actions_.playSlot(where.bank, where.slot);
    std::weak_ptr<ShowImport*> alive = alive_;
    show_.playback.waitForWarmReady(kDisplayTimeout, [alive, job, index, where](bool ready) {
        auto self = alive.lock();
        if (!self) {
            return;
        }
        ShowImport& part = **self;
        if (!ready && job->generation == part.show_.project.generation()) {
            if (const SlotData* record = part.show_.project.slotAt(where.bank, where.slot)) {
                const std::string name = record->name;
                part.show_.playback.log(
                    "⚠️ ウォームアップでisReadyForDisplayがタイムアウト → "
                    "取り込みを取り消し: " +
                    name);
                job->takenOut.push_back(name);
                part.actions_.deleteClip(where.bank, where.slot);
            }
        }
        part.runDisplayCheck(job, index + 1);
    });
}

void ShowImport::saveThumbnail(int bank, int slot, const std::filesystem::path& url,
                               std::optional<std::vector<std::uint8_t>>, double time) {
    // The importer opens the file through its own access (bookmark or path) on its workers.
    std::weak_ptr<ShowImport*> alive = alive_;
    const auto generation = show_.project.generation();
    show_.importer.videoThumbnail(
        url, time, [alive, generation, bank, slot, url](std::optional<ShowImporter::Bytes> bytes) {
            auto self = alive.lock();
            if (!self) {
                return;
            }
            ShowProject& project = (*self)->show_.project;
            // Only onto the clip it was taken from: the slot may have been emptied, pasted over
            // or filled again meanwhile, and the project replaced.
            if (!project.stillHolds(generation, bank, slot, url)) {
                return;
            }
            // Held in memory: the package gets the picture when it is saved.
            SlotData* record = project.slotAt(bank, slot);
            record->thumbnail = bytes;
            record->thumbnailFileName =
                bytes ? std::optional<std::string>(thumbnailFileName(bank, slot)) : std::nullopt;
            project.didChange();
        });
}

}  // namespace kestio
