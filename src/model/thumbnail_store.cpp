#include "model/thumbnail_store.h"

namespace kestio {

ThumbnailStore::ThumbnailStore() : ThumbnailStore(&ThumbnailStore::decodeWithQt) {}

ThumbnailStore::ThumbnailStore(Decoder decoder) : decoder_(std::move(decoder)) {}

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
        cache_.erase(key);
        return nullptr;
    }
    if (auto it = cache_.find(key); it != cache_.end() && it->second.data == *data) {
        return it->second.image;
    }
    Image decoded = decoder_(*data);
    if (!decoded) {
        return nullptr;
    }
    cache_[key] = Entry{decoded, *data};
    return decoded;
}

}  // namespace kestio
