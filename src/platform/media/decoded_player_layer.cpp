#include "platform/media/decoded_player_layer.h"

namespace kestio::platform::media {

DecodedPlayerLayer::DecodedPlayerLayer(std::shared_ptr<QueuePlayer> player) {
    setPlayer(std::move(player));
}

DecodedPlayerLayer::~DecodedPlayerLayer() = default;

void DecodedPlayerLayer::setPlayer(std::shared_ptr<QueuePlayer> player) {
    subscription_.reset();
    const auto current = player;
    player_.store(std::move(player));
    if (!current) {
        update(false);
        return;
    }
    subscription_ =
        current->hasDisplayableFrame().subscribe([this](const bool& ready) { update(ready); });
    update(current->hasDisplayableFrame().get());
}

std::shared_ptr<QueuePlayer> DecodedPlayerLayer::player() const {
    return player_.load();
}

void DecodedPlayerLayer::update(bool ready) {
    if (ready != ready_.get()) {
        ready_.set(ready);
    }
}

QImage DecodedPlayerLayer::frameAt(double hostTime) const {
    const auto player = player_.load();
    return player ? player->frameAt(hostTime) : QImage();
}

}  // namespace kestio::platform::media
