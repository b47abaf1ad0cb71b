#include "show/media_check.h"

#include <memory>
#include <string>
#include <variant>

#include "model/localization_manager.h"
#include "model/thumbnail_naming.h"
#include "platform/storage/bookmark_service.h"
#include "platform/ui/dialog_presenter.h"
#include "show/disk_worker.h"
#include "show/media_check_text.h"
#include "show/media_file_check.h"
#include "show/relink_index.h"
#include "show/show_importer.h"
#include "show/show_playback.h"
#include "show/show_project.h"
#include "show/slot_display_name.h"

namespace kestio {

namespace fs = std::filesystem;
using platform::DialogPresenter;

namespace {

AppLanguage language() {
    return LocalizationManager::shared().language.get();
}

std::string_view remarkFor(MissingKind kind) {
    switch (kind) {
        case MissingKind::renamed:
            return kRenamedRemark;
        case MissingKind::noAccess:
            return kNoAccessRemark;
        case MissingKind::none:
        case MissingKind::notFound:
            break;
    }
    return {};
}

// Whether the slot still holds the file reference that was examined.
bool sameReference(const SlotData& slot, const SlotFileReference& reference) {
    return slot.bookmarkData == reference.bookmarkData && slot.videoURL == reference.videoURL;
}

struct RelinkOutcome {
    bool accessible = false;
    RelinkPlan plan;
};

}  // namespace

void MediaCheck::checkMissingMedia() {
    checkMissingMedia([] {});
}

void MediaCheck::checkMissingMedia(std::function<void()> then) {
    auto references = std::make_shared<const std::vector<SlotFileReference>>(
        collectSlotFiles(show_.project.data()));
    const std::uint64_t generation = show_.project.generation();
    auto job = [references, &bookmarks = show_.bookmarks] {
        std::vector<SlotFileFinding> findings;
        findings.reserve(references->size());
        for (const auto& reference : *references) {
            findings.push_back(examineSlotFile(reference, bookmarks));
        }
        return findings;
    };
    show_.diskWorker().run<std::vector<SlotFileFinding>>(
        std::move(job), [this, references, generation,
                         then = std::move(then)](std::vector<SlotFileFinding> findings) {
            if (generation != show_.project.generation()) {
                then();
                return;
            }
            std::vector<std::string> missing;
            for (std::size_t i = 0; i < findings.size(); ++i) {
                const SlotFileFinding& finding = findings[i];
                const SlotFileReference& reference = (*references)[i];
                SlotData* slot = show_.project.slotAt(finding.bank, finding.slot);
                // An edit made while the files were looked at wins over what was found.
                if (slot == nullptr || !sameReference(*slot, reference)) {
                    continue;
                }
                slot->isFileMissing = finding.missing != MissingKind::none;
                if (slot->isFileMissing) {
                    missing.push_back(listEntry(
                        show_.project.data().banks[static_cast<std::size_t>(finding.bank)].name,
                        slot->name, remarkFor(finding.missing)));
                }
                if (finding.recordDate && slot->clipInfo) {
                    // Recorded without marking the project unsaved.
                    slot->clipInfo->sourceModifiedAt = finding.fileDate;
                }
                if (finding.rescan && finding.url) {
                    show_.playback.log("♻️ ファイル更新を検知、再スキャン: " +
                                       slotDisplayName(slot->name));
                    rescanClip(*finding.url, finding.bank, finding.slot);
                }
            }
            show_.project.didChange();
            if (missing.empty()) {
                then();
                return;
            }
            show_.playback.log("⚠️ ファイルロスト: " + std::to_string(missing.size()) +
                               "件");
            const int answer = show_.dialogs.alert(
                DialogPresenter::AlertStyle::warning,
                L("メディアファイルが見つかりません", "Missing Media Files"),
                missingMediaText(missing, language()),
                {L("フォルダから再リンク...", "Relink from Folder..."), L("後で", "Later")});
            if (answer == 0) {
                relinkFromFolder(then);
            } else {
                then();
            }
        });
}

void MediaCheck::rescanClip(const fs::path& url, int bank, int slot) {
    probeAgain(url, bank, slot, false);
}

void MediaCheck::probeAgain(const fs::path& url, int bank, int slot, bool relinked) {
    const SlotData* data = show_.project.slotAt(bank, slot);
    if (data == nullptr) {
        return;
    }
    const double time = data->inPoint.value_or(0.0);
    const std::uint64_t generation = show_.project.generation();
    const std::weak_ptr<MediaCheck*> alive = alive_;
    const bool accessing = show_.bookmarks.startAccessingSecurityScopedResource(url);
    show_.importer.importMeta(
        url, time,
        [this, alive, url, bank, slot, generation, time, accessing,
         relinked](ImportOutcome outcome) {
            if (!alive.lock()) {
                return;
            }
            if (accessing) {
                show_.bookmarks.stopAccessingSecurityScopedResource(url);
            }
            // Written only into the project and the slot the probe was started for.
            if (!show_.project.stillHolds(generation, bank, slot, url)) {
                return;
            }
            SlotData* target = show_.project.slotAt(bank, slot);
            if (const auto* error = std::get_if<ImportError>(&outcome)) {
                show_.playback.log("⚠️ 再スキャン失敗: " +
                                   slotDisplayName(target->name) + " - " + error->description());
                return;
            }
            const ImportResult& result = std::get<ImportResult>(outcome);
            const ClipInfo& info = result.clipInfo;
            target->clipInfo = info;
            if (result.bookmark) {
                // Of the file as it is now, so that the next open finds it unchanged.
                target->bookmarkData = result.bookmark;
            }
            // The waveform was of the sound the file held: drawn again when the slot is next
            // played.
            target->waveformData.reset();
            if (relinked) {
                // A file of another format may hold another kind of clip.
                target->mediaType = result.mediaType;
            }
            if (target->outPoint && info.duration < *target->outPoint) {
                target->outPoint =
                    info.duration > 0 ? std::optional<double>(info.duration) : std::nullopt;
            }
            show_.project.setUnsaved();
            show_.playback.log(rescanDoneLogLine(target->name, info.duration, info.fps));
            if (result.mediaType != MediaType::video && result.thumbnail) {
                // A still's or a sound's probe brings its picture (and a sound its waveform).
                target->thumbnail = result.thumbnail;
                target->thumbnailFileName = thumbnailFileName(bank, slot);
                if (result.waveformData) {
                    target->waveformData = result.waveformData;
                }
                show_.project.didChange();
                return;
            }
            show_.project.didChange();

            show_.importer.regeneratePreview(
                url, time,
                [this, alive, url, bank, slot, generation](ShowImporter::Preview preview) {
                    if (!alive.lock() || !preview.thumbnail ||
                        !show_.project.stillHolds(generation, bank, slot, url)) {
                        return;
                    }
                    // Held in memory: the package gets the picture when it is saved.
                    SlotData* refreshed = show_.project.slotAt(bank, slot);
                    refreshed->thumbnail = *preview.thumbnail;
                    refreshed->thumbnailFileName = thumbnailFileName(bank, slot);
                    show_.project.didChange();
                });
        });
}

void MediaCheck::relinkFromFolder() {
    relinkFromFolder([] {});
}

void MediaCheck::relinkFromFolder(std::function<void()> then) {
    const auto folder = show_.dialogs.openFolder(
        L("再リンク元のフォルダを選択", "Choose Folder to Relink From"),
        L("このフォルダを検索", "Search This Folder"),
        L("見つからないメディアと同じ名前のファイルを含むフォルダを選択してください（親フォルダでも"
          "構いません）",
          "Select a folder containing files with the same names as the missing media (a parent "
          "folder also works)"));
    if (!folder) {
        then();
        return;
    }
    const std::uint64_t generation = show_.project.generation();
    auto job = [&bookmarks = show_.bookmarks, folder = *folder,
                missing = collectMissingSlots(show_.project.data())] {
        RelinkOutcome outcome;
        outcome.accessible = bookmarks.startAccessingSecurityScopedResource(folder);
        if (!outcome.accessible) {
            return outcome;
        }
        const RelinkIndex index = buildRelinkIndex(folder);
        outcome.plan = planRelink(missing, index, [&bookmarks](const fs::path& file) {
            const bool accessing = bookmarks.startAccessingSecurityScopedResource(file);
            std::optional<std::vector<std::uint8_t>> bookmark;
            try {
                bookmark =
                    bookmarks.bookmarkData(file, platform::BookmarkOption::withSecurityScope);
            } catch (const std::exception&) {
            }
            if (accessing) {
                bookmarks.stopAccessingSecurityScopedResource(file);
            }
            return bookmark;
        });
        bookmarks.stopAccessingSecurityScopedResource(folder);
        return outcome;
    };
    show_.diskWorker().run<RelinkOutcome>(
        std::move(job), [this, generation, then = std::move(then)](RelinkOutcome outcome) {
            if (!outcome.accessible) {
                show_.dialogs.alert(DialogPresenter::AlertStyle::critical,
                                    L("フォルダにアクセスできません", "Failed to Access Folder"),
                                    "", {"OK"});
                then();
                return;
            }
            if (generation != show_.project.generation()) {
                // The slots searched for belong to a project that is no longer open.
                then();
                return;
            }
            int relinked = 0;
            std::vector<std::string> notFound = std::move(outcome.plan.notFound);
            std::vector<RelinkMatch> otherFormats;
            for (auto& match : outcome.plan.matches) {
                SlotData* slot = show_.project.slotAt(match.bank, match.slot);
                // A slot edited during the search keeps what the operator gave it.
                if (slot == nullptr || !slot->isFileMissing || slot->name != match.name) {
                    continue;
                }
                slot->bookmarkData = std::move(match.bookmark);
                slot->videoURL = match.file;
                slot->isFileMissing = false;
                ++relinked;
                if (match.otherFormat) {
                    otherFormats.push_back(std::move(match));
                }
            }
            if (relinked > 0) {
                show_.project.setUnsaved();
            }
            show_.playback.log(relinkLogLine(relinked, static_cast<int>(notFound.size())));
            show_.project.didChange();
            // What the slot knew of its old file (facts, picture) does not hold for a file of
            // another format: it is probed again, as a file changed on disk is.
            for (const RelinkMatch& match : otherFormats) {
                probeAgain(match.file, match.bank, match.slot, true);
            }
            show_.dialogs.alert(relinked > 0 ? DialogPresenter::AlertStyle::informational
                                             : DialogPresenter::AlertStyle::warning,
                                L("再リンク完了", "Relink Complete"),
                                relinkReportText(relinked, notFound, language()), {"OK"});
            then();
        });
}

}  // namespace kestio
