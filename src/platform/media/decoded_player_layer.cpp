#include "platform/media/decoded_player_layer.h"

#include <mutex>

namespace kestio::platform::media {

DecodedPlayerLayer::DecodedPlayerLayer(std::shared_ptr<QueuePlayer> player) {
    setPlayer(std::move(player));
}

DecodedPlayerLayer::~DecodedPlayerLayer() = default;

void DecodedPlayerLayer::setPlayer(std::shared_ptr<QueuePlayer> player) {
    subscription_.reset();
    const auto current = player;
    {
        std::unique_lock lock(playerUse_);
        player.swap(player_);
    }
    player.reset();  // the previous player, let go here on the main thread
    if (!current) {
        update(false);
        return;
    }
    subscription_ =
        current->hasDisplayableFrame().subscribe([this](const bool& ready) { update(ready); });
    update(current->hasDisplayableFrame().get());
}

std::shared_ptr<QueuePlayer> DecodedPlayerLayer::player() const {
    return player_;  // only the main thread changes it
}

void DecodedPlayerLayer::update(bool ready) {
    if (ready != ready_.get()) {
        ready_.set(ready);
    }
}

QImage DecodedPlayerLayer::frameAt(HostTime hostTime) const {
    std::shared_lock lock(playerUse_);
    return player_ ? player_->frameAt(hostTime) : QImage();
}

Picture DecodedPlayerLayer::pictureAt(HostTime hostTime) const {
    return player_ ? player_->pictureAt(hostTime) : Picture();
}

}  // namespace kestio::platform::media
