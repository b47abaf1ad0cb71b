#pragma once

#include <QImage>
#include <memory>

#include "platform/graphics/frame_source.h"
#include "platform/runloop/published.h"

namespace kestio::platform::media {

class QueuePlayer;

// The pictures of a player, for a layer of the layer tree (Layer::setFrameSource). Any
// number of player layers may show the same player; each gives the same picture for the
// same time. Placement (frame, gravity, hidden) belongs to the layer that shows it.
// Used on the run loop's thread.
class PlayerLayer final : public FrameSource {
  public:
    explicit PlayerLayer(std::shared_ptr<QueuePlayer> player = nullptr);
    ~PlayerLayer() override;
    PlayerLayer(const PlayerLayer&) = delete;
    PlayerLayer& operator=(const PlayerLayer&) = delete;

    void setPlayer(std::shared_ptr<QueuePlayer> player);
    const std::shared_ptr<QueuePlayer>& player() const { return player_; }

    // True while the player's current item has a picture for its time, playing or paused
    // (an item with sound only counts once it is ready). Set only when the value changes.
    Published<bool>& isReadyForDisplay() { return ready_; }
    bool readyForDisplay() const { return ready_.get(); }

    // The player's picture at `runLoopTime` (Format_ARGB32_Premultiplied), or null.
    QImage frameAt(double runLoopTime) const override;

  private:
    void update(bool ready);

    std::shared_ptr<QueuePlayer> player_;
    Published<bool> ready_{false};
    Subscription subscription_;
};

}  // namespace kestio::platform::media
