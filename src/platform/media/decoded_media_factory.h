#pragma once

#include "platform/media/media_factory.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

// The factory of the real media classes: FFmpeg-backed assets and items, their queue player,
// looper and player layer, all on `loop` (which must outlive what it makes).
class DecodedMediaFactory final : public MediaFactory {
  public:
    explicit DecodedMediaFactory(RunLoop& loop) : loop_(loop) {}

    std::shared_ptr<Asset> makeAsset(const std::filesystem::path& url) override;
    std::shared_ptr<PlayerItem> makeItem(std::shared_ptr<Asset> asset) override;
    std::shared_ptr<QueuePlayer> makeQueuePlayer() override;
    std::unique_ptr<PlayerLooper> makeLooper(std::shared_ptr<QueuePlayer> player,
                                             const std::shared_ptr<PlayerItem>& item,
                                             std::optional<TimeRange> range) override;
    std::unique_ptr<PlayerLayer> makePlayerLayer(std::shared_ptr<QueuePlayer> player) override;

  private:
    RunLoop& loop_;
};

}  // namespace kestio::platform::media
