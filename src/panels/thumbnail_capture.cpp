#include "panels/thumbnail_capture.h"

#include "model/thumbnail_naming.h"
#include "panels/panel_facade.h"
#include "show/show_importer.h"

namespace kestio::panels {

namespace fs = std::filesystem;

ThumbnailCapture::ThumbnailCapture(PanelFacade& facade, ShowImporter& importer)
    : facade_(facade), importer_(importer) {}

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
    const bool isLoaded = facade_.playback().onAirOrOnItsWay() == SlotRef{bank, slot};
    const double time =
        isLoaded ? facade_.playback().currentTime().get() : data.inPoint.value_or(0.0);
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
}

}  // namespace kestio::panels
