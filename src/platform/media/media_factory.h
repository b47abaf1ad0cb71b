#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/media/asset.h"
#include "platform/media/media_time.h"
#include "platform/media/player_item.h"
#include "platform/media/player_layer.h"
#include "platform/media/player_looper.h"
#include "platform/media/queue_player.h"

namespace kestio::platform::media {

// Makes the media objects playback works with, so that the layers above can be given fakes.
// Items play only in players of the factory that made them.
class MediaFactory {
  public:
    virtual ~MediaFactory() = default;

    virtual std::shared_ptr<Asset> makeAsset(const std::filesystem::path& url) = 0;
    virtual std::shared_ptr<PlayerItem> makeItem(std::shared_ptr<Asset> asset) = 0;
    virtual std::shared_ptr<QueuePlayer> makeQueuePlayer() = 0;
    // `range` empty: the whole item.
    virtual std::unique_ptr<PlayerLooper> makeLooper(std::shared_ptr<QueuePlayer> player,
                                                     const std::shared_ptr<PlayerItem>& item,
                                                     std::optional<TimeRange> range) = 0;
    virtual std::unique_ptr<PlayerLayer> makePlayerLayer(std::shared_ptr<QueuePlayer> player) = 0;

  protected:
    MediaFactory() = default;
    MediaFactory(const MediaFactory&) = delete;
    MediaFactory& operator=(const MediaFactory&) = delete;
};

}  // namespace kestio::platform::media
