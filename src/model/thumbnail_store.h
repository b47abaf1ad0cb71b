#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestio {

// Decoded slot thumbnails for drawing the grid, decoded again only when a slot's bytes
// change. Keys are "<bank>-<slot>". Main thread only.
class ThumbnailStore {
  public:
    using Image = std::shared_ptr<const QImage>;
    using Bytes = std::vector<std::uint8_t>;
    // Makes an image from encoded bytes; none when they are not an image.
    using Decoder = std::function<Image(const Bytes&)>;

    ThumbnailStore();  // decodes with QImage
    explicit ThumbnailStore(Decoder decoder);

    // The image for the key's bytes. Without bytes the key is forgotten and none is given.
    // Bytes equal to those of the cached image give that same image object. Bytes that do
    // not decode give none and leave the cached entry as it was.
    Image image(const std::string& key, const std::optional<Bytes>& data);

    static Image decodeWithQt(const Bytes& data);

  private:
    struct Entry {
        Image image;
        Bytes data;
    };
    Decoder decoder_;
    std::map<std::string, Entry> cache_;
};

}  // namespace kestio
