#include "model/thumbnail_store.h"

#include <algorithm>
#include <utility>

namespace kestio {

ThumbnailStore::ThumbnailStore(DecodeRunner runner, Decoder decoder, std::size_t keptImages)
    : runner_(std::move(runner)),
      decoder_(std::move(decoder)),
      keptImages_(keptImages),
      lifetime_(std::make_shared<ThumbnailStore*>(this)) {}

ThumbnailStore::~ThumbnailStore() {
    for (auto& [key, entry] : cache_) {
        drop(entry);
    }
}

ThumbnailStore::Image ThumbnailStore::decodeWithQt(const Bytes& data) {
    QImage image;
    if (!image.loadFromData(data.data(), static_cast<int>(data.size())) || image.isNull()) {
        return nullptr;
    }
    return std::make_shared<const QImage>(std::move(image));
}

ThumbnailStore::Image ThumbnailStore::image(const std::string& key,
                                            const std::optional<Bytes>& data) {
    if (!data) {
        if (auto it = cache_.find(key); it != cache_.end()) {
            drop(it->second);
            cache_.erase(it);
        }
        return nullptr;
    }
    Entry& entry = cache_[key];
    entry.asked = ++asks_;
    if (entry.imageData && *entry.imageData == *data) {
        drop(entry);
        return entry.image;
    }
    if (entry.failedData && *entry.failedData == *data) {
        drop(entry);
        return nullptr;
    }
    if (!entry.underWay || *entry.underWay->data != *data) {
        startDecode(key, entry, *data);
    }
    return nullptr;
}

std::size_t ThumbnailStore::decodesPending() const {
    std::size_t count = 0;
    for (const auto& [key, entry] : cache_) {
        count += entry.underWay ? 1 : 0;
    }
    return count;
}

void ThumbnailStore::startDecode(const std::string& key, Entry& entry, const Bytes& data) {
    drop(entry);
    Decode decode{std::make_shared<const Bytes>(data), std::make_shared<std::atomic<bool>>(false)};
    entry.underWay = decode;
    std::weak_ptr<ThumbnailStore*> alive = lifetime_;
    runner_(
        [decoder = decoder_, decode]() -> Image {
            return decode.dropped->load() ? nullptr : decoder(*decode.data);
        },
        [alive, key, data = decode.data](Image image) {
            if (auto self = alive.lock()) {
                (*self)->land(key, data, std::move(image));
            }
        });
}

void ThumbnailStore::land(const std::string& key, const SharedBytes& data, Image image) {
    auto it = cache_.find(key);
    // The key was forgotten or asked for other bytes meanwhile: not the slot's thumbnail now.
    if (it == cache_.end() || !it->second.underWay || it->second.underWay->data != data) {
        return;
    }
    Entry& entry = it->second;
    entry.underWay.reset();
    if (!image) {
        entry.failedData = data;
        return;
    }
    entry.image = std::move(image);
    entry.imageData = data;
    entry.failedData.reset();
    keepRecentImages();
    landed = landed.get() + 1;
}

void ThumbnailStore::keepRecentImages() {
    std::vector<std::pair<std::uint64_t, Entry*>> holding;
    for (auto& [key, entry] : cache_) {
        if (entry.image) {
            holding.emplace_back(entry.asked, &entry);
        }
    }
    if (holding.size() <= keptImages_) {
        return;
    }
    const auto beyond = holding.begin() + std::ptrdiff_t(holding.size() - keptImages_);
    std::nth_element(holding.begin(), beyond, holding.end());
    for (auto it = holding.begin(); it != beyond; ++it) {
        // The entry stays without its image: the next ask decodes again.
        it->second->image.reset();
        it->second->imageData.reset();
    }
}

void ThumbnailStore::drop(Entry& entry) {
    if (entry.underWay) {
        entry.underWay->dropped->store(true);
        entry.underWay.reset();
    }
}

}  // namespace kestio
