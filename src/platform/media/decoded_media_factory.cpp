#include "platform/media/decoded_media_factory.h"

#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_item.h"
#include "platform/media/decoded_player_layer.h"
#include "platform/media/decoded_player_looper.h"
#include "platform/media/decoded_queue_player.h"

namespace kestio::platform::media {

std::shared_ptr<Asset> DecodedMediaFactory::makeAsset(const std::filesystem::path& url) {
    return DecodedAsset::make(loop_, url);
}

std::shared_ptr<PlayerItem> DecodedMediaFactory::makeItem(std::shared_ptr<Asset> asset) {
    return DecodedPlayerItem::make(std::move(asset));
}

std::shared_ptr<QueuePlayer> DecodedMediaFactory::makeQueuePlayer() {
    return DecodedQueuePlayer::make(loop_);
}

std::unique_ptr<PlayerLooper> DecodedMediaFactory::makeLooper(
    std::shared_ptr<QueuePlayer> player, const std::shared_ptr<PlayerItem>& item,
    std::optional<TimeRange> range) {
    return std::make_unique<DecodedPlayerLooper>(std::move(player), item, range);
}

std::unique_ptr<PlayerLayer> DecodedMediaFactory::makePlayerLayer(
    std::shared_ptr<QueuePlayer> player) {
    return std::make_unique<DecodedPlayerLayer>(std::move(player));
}

}  // namespace kestio::platform::media
