#pragma once

#include <QImage>
#include <memory>

#include "platform/media/atomic_snapshot.h"
#include "platform/media/player_layer.h"
#include "platform/media/queue_player.h"

namespace kestio::platform::media {

// The player layer of any queue player: it shows what the player's frameAt() gives.
class DecodedPlayerLayer final : public PlayerLayer {
  public:
    explicit DecodedPlayerLayer(std::shared_ptr<QueuePlayer> player = nullptr);
    ~DecodedPlayerLayer() override;

    void setPlayer(std::shared_ptr<QueuePlayer> player) override;
    std::shared_ptr<QueuePlayer> player() const override;

    Published<bool>& isReadyForDisplay() override { return ready_; }
    bool readyForDisplay() const override { return ready_.get(); }

    // The player's picture at host time `hostTime` (Format_ARGB32_Premultiplied), or null.
    QImage frameAt(double hostTime) const override;

  private:
    void update(bool ready);

    // Read by frameAt() from presenter threads.
    AtomicSnapshot<QueuePlayer> player_;
    Published<bool> ready_{false};
    Subscription subscription_;
};

}  // namespace kestio::platform::media
