#pragma once

#include <QImage>
#include <memory>
#include <shared_mutex>

#include "platform/media/player_layer.h"
#include "platform/media/queue_player.h"

namespace kestio::platform::media {

// The player layer of any queue player: it shows what the player's frameAt() gives.
//
// Presenter threads call frameAt() while the main thread may replace the player. They never
// hold a reference of their own to the player, so the main thread always lets go of the last
// one (a player must be destroyed on its run loop's thread): a replacement waits for the
// presenters inside frameAt() at that moment, which hand out a picture already decoded.
// Destroy the layer on the main thread too (a Layer showing it makes sure of that).
class DecodedPlayerLayer final : public PlayerLayer {
  public:
    explicit DecodedPlayerLayer(std::shared_ptr<QueuePlayer> player = nullptr);
    ~DecodedPlayerLayer() override;

    void setPlayer(std::shared_ptr<QueuePlayer> player) override;
    std::shared_ptr<QueuePlayer> player() const override;

    Published<bool>& isReadyForDisplay() override { return ready_; }
    bool readyForDisplay() const override { return ready_.get(); }

    // The player's picture at host time `hostTime` (as the decoder gives it), or null.
    QImage frameAt(HostTime hostTime) const override;
    Picture pictureAt(HostTime hostTime) const override;

  private:
    void update(bool ready);

    // Held shared by frameAt() around its use of the player, exclusively while it is replaced.
    mutable std::shared_mutex playerUse_;
    std::shared_ptr<QueuePlayer> player_;
    Published<bool> ready_{false};
    Subscription subscription_;
};

}  // namespace kestio::platform::media
