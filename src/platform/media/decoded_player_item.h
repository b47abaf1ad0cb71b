#pragma once

#include <QImage>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/media/item_decoder.h"
#include "platform/media/media_time.h"
#include "platform/media/playable_item.h"

namespace kestio::platform::media {

// A player item that decodes its file with FFmpeg: a decode thread of its own opens the file
// and decodes ahead of the position. It is ready to play once its first picture is decoded
// (or, for a file with sound only, once it is open), and failed when the file cannot be opened
// or yields no picture. Decoded pictures are kept for a quarter of a second ahead (at least
// three, at most twelve, less for very large pictures; while its player holds it paused, no
// more than 8 MB of them), so memory stays bounded. It plays in a DecodedQueuePlayer made by its
// make() only.
class DecodedPlayerItem final : public PlayableItem,
                                public std::enable_shared_from_this<DecodedPlayerItem> {
    struct Token {};

  public:
    static std::shared_ptr<DecodedPlayerItem> make(std::shared_ptr<Asset> asset);
    DecodedPlayerItem(Token, std::shared_ptr<Asset> asset);
    ~DecodedPlayerItem() override;

    // The family of decoded items (see PlayableItem::family()).
    static const void* decodedFamily();

    const std::shared_ptr<Asset>& asset() const override { return asset_; }
    const std::filesystem::path& url() const override;

    // duration() is +infinity while unknown, until the decoder reaches the end of the pictures.
    // loadedTimeRanges() reaches to the end once everything is decoded.
    std::vector<TimeRange> loadedTimeRanges() const override;

    std::shared_ptr<PlayerItem> replica() const override;

    // The decoded picture for `itemTime` (no filter applied): the queued picture whose
    // interval holds it, or the last one kept while nothing newer is decoded (during a seek,
    // say). Null before the first.
    QImage frameAt(double itemTime) const { return pictureAt(itemTime).toImage(); }

  private:
    void startLoading() override;
    void startSeek(std::uint64_t id, double target, double toleranceBefore,
                   double toleranceAfter) override;
    void seekAsked() override;
    void settled() override { refreshBuffer(); }
    void failing() override;
    void timelineChanged() override;
    void endTimeChanged() override;
    void forwardBufferChanged() override;
    bool hasDisplayableFrame() const override { return ready_ && displayable_; }
    std::shared_ptr<const ItemPictures> pictures() const override;

    void handle(const DecoderEvent& event);
    void refreshBuffer();
    void keepShownPicture();

    std::shared_ptr<Asset> asset_;
    // Shared with the player's snapshots, which may keep it after the item is gone.
    std::shared_ptr<ItemDecoder> decoder_;
    std::optional<SeekRequest> queuedSeek_;
    bool displayable_ = false;
    // The picture shown when a seek (or a nearer end) emptied the decoder's queue, kept only
    // until the decoder has a picture again.
    Picture held_;
};

}  // namespace kestio::platform::media
