#include "platform/media/player_layer.h"

#include "platform/media/queue_player.h"

namespace kestio::platform::media {

PlayerLayer::PlayerLayer(std::shared_ptr<QueuePlayer> player) {
    setPlayer(std::move(player));
}

PlayerLayer::~PlayerLayer() = default;

void PlayerLayer::setPlayer(std::shared_ptr<QueuePlayer> player) {
    subscription_.reset();
    player_ = std::move(player);
    if (!player_) {
        update(false);
        return;
    }
    subscription_ =
        player_->hasDisplayableFrame().subscribe([this](const bool& ready) { update(ready); });
    update(player_->hasDisplayableFrame().get());
}

void PlayerLayer::update(bool ready) {
    if (ready != ready_.get()) {
        ready_.set(ready);
    }
}

QImage PlayerLayer::frameAt(double runLoopTime) const {
    return player_ ? player_->frameAt(runLoopTime) : QImage();
}

}  // namespace kestio::platform::media
