#pragma once

#include <QImage>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/runloop/published.h"

namespace kestio {

// Decoded slot thumbnails for drawing the grid. Keys are "<bank>-<slot>". Main thread only.
//
// The main thread never decodes: asking for bytes that have no decoded image yet gives none and
// hands the bytes to the decode runner (one decode per key at a time). The image lands on a
// later turn of the run loop, `landed` counts it, and from then on asking with equal bytes gives
// that same image object, so a view can tell an unchanged picture by its identity. An answer is
// dropped when the key has been asked for other bytes, or none, since its decode was handed
// over: the slot no longer holds that thumbnail. A decode still queued when it is dropped is
// skipped.
//
// Decoded images are kept for the keys asked for most recently only, `keptImages` of them: the
// grid asks for the slots it shows, so the banks looked at last stay decoded, and a show of many
// banks looked through holds no more than that. A key let go of is decoded again when asked for.
class ThumbnailStore {
  public:
    using Image = std::shared_ptr<const QImage>;
    using Bytes = std::vector<std::uint8_t>;
    // Makes an image from encoded bytes; none when they are not an image. Runs on the worker.
    using Decoder = std::function<Image(const Bytes&)>;
    // Runs `work` away from the main thread, then `done` with its result on a later turn of the
    // main run loop (never inside the call). May drop `done` once the worker is shutting down.
    using DecodeRunner =
        std::function<void(std::function<Image()> work, std::function<void(Image)> done)>;

    // Four banks of 4 × 10 slots (a 320 × 180 thumbnail takes 230 kB decoded).
    static constexpr std::size_t kKeptImages = 160;

    explicit ThumbnailStore(DecodeRunner runner, Decoder decoder = &ThumbnailStore::decodeWithQt,
                            std::size_t keptImages = kKeptImages);
    // Decodes not yet started are skipped; answers still on their way are dropped.
    ~ThumbnailStore();
    ThumbnailStore(const ThumbnailStore&) = delete;
    ThumbnailStore& operator=(const ThumbnailStore&) = delete;

    // The image decoded from the key's bytes, none while they are being decoded. Without bytes
    // the key is forgotten and none is given. Bytes that do not decode give none (and are not
    // decoded again) and leave the image of the bytes before as it was.
    Image image(const std::string& key, const std::optional<Bytes>& data);

    // Decodes handed to the runner whose answer has not come back yet.
    std::size_t decodesPending() const;

    // Counts the images that landed; a view showing thumbnails asks again when it moves.
    platform::Published<std::uint64_t> landed;

    static Image decodeWithQt(const Bytes& data);

  private:
    using SharedBytes = std::shared_ptr<const Bytes>;
    struct Decode {
        SharedBytes data;
        std::shared_ptr<std::atomic<bool>> dropped;
    };
    struct Entry {
        Image image;
        SharedBytes imageData;           // the bytes `image` was decoded from
        SharedBytes failedData;          // the last bytes that were no image
        std::optional<Decode> underWay;  // the decode whose answer the entry waits for
        std::uint64_t asked = 0;         // when the key was last asked for, by the ask count
    };

    void startDecode(const std::string& key, Entry& entry, const Bytes& data);
    void land(const std::string& key, const SharedBytes& data, Image image);
    static void drop(Entry& entry);
    // Lets go of the images of the keys asked for least recently beyond `keptImages_`.
    void keepRecentImages();

    DecodeRunner runner_;
    Decoder decoder_;
    std::size_t keptImages_;
    std::map<std::string, Entry> cache_;
    std::uint64_t asks_ = 0;
    // Answers hold this weakly and do nothing once the store is gone.
    std::shared_ptr<ThumbnailStore*> lifetime_;
};

}  // namespace kestio
