#include "panels/thumbnail_capture.h"

#include <fstream>
#include <system_error>

#include "model/thumbnail_naming.h"
#include "panels/panel_facade.h"
#include "show/disk_worker.h"
#include "show/show_importer.h"

namespace kestio::panels {

namespace fs = std::filesystem;

bool writeThumbnailPNG(const fs::path& package, int bank, int slot,
                       const std::vector<std::uint8_t>& png) {
    const fs::path folder = package / "thumbnails";
    std::error_code error;
    fs::create_directories(folder, error);
    // Written beside the old file and moved over it, so that a failed write never leaves a
    // half-written picture in the old one's place.
    const fs::path file = folder / thumbnailFileName(bank, slot);
    const fs::path partial = folder / (thumbnailFileName(bank, slot) + ".partial");
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(reinterpret_cast<const char*>(png.data()),
                  static_cast<std::streamsize>(png.size()));
        out.close();
        if (!out) {
            fs::remove(partial, error);
            return false;
        }
    }
    fs::rename(partial, file, error);
    if (error) {
        fs::remove(partial, error);
        return false;
    }
    return true;
}

ThumbnailCapture::ThumbnailCapture(PanelFacade& facade, ShowImporter& importer,
                                   platform::RunLoop& loop)
    : facade_(facade), importer_(importer), disk_(std::make_unique<DiskWorker>(loop)) {}

ThumbnailCapture::~ThumbnailCapture() = default;

void ThumbnailCapture::capture(int bank, int slot) {
    const auto url = facade_.resolveSlotURL(bank, slot);
    if (!url) {
        return;
    }
    const auto& banks = facade_.project().banks;
    if (bank < 0 || slot < 0 || std::size_t(bank) >= banks.size() ||
        std::size_t(slot) >= banks[std::size_t(bank)].slots.size()) {
        return;
    }
    const SlotData& data = banks[std::size_t(bank)].slots[std::size_t(slot)];
    const bool isLoaded =
        facade_.currentBankIndex().get() == bank && facade_.currentSlotIndex().get() == slot;
    const double time = isLoaded ? facade_.currentTime().get() : data.inPoint.value_or(0.0);
    std::weak_ptr<ThumbnailCapture*> alive = self_;
    importer_.videoThumbnail(*url, time,
                             [alive, generation = facade_.projectGeneration(), bank, slot,
                              clip = data.videoURL](std::optional<std::vector<std::uint8_t>> png) {
                                 if (auto self = alive.lock()) {
                                     (*self)->land(generation, bank, slot, clip, std::move(png));
                                 }
                             });
}

void ThumbnailCapture::land(std::uint64_t generation, int bank, int slot,
                            const std::optional<fs::path>& clip,
                            std::optional<std::vector<std::uint8_t>> png) {
    if (!png || png->empty() || generation != facade_.projectGeneration()) {
        return;
    }
    bool sameClip = false;
    const bool written = facade_.editSlot(bank, slot, [&](SlotData& data) {
        sameClip = data.videoURL == clip;
        if (sameClip) {
            data.thumbnail = *png;
            data.thumbnailFileName = thumbnailFileName(bank, slot);
        }
    });
    if (!written || !sameClip) {
        return;
    }
    facade_.markUnsaved();
    if (const auto package = facade_.currentProjectURL()) {
        disk_->run<bool>(
            [package = *package, bank, slot, bytes = std::move(*png)] {
                return writeThumbnailPNG(package, bank, slot, bytes);
            },
            [](bool) {});
    }
}

}  // namespace kestio::panels
