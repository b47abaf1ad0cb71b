#pragma once

#include <memory>

#include "platform/graphics/frame_source.h"
#include "platform/runloop/published.h"

namespace kestio::platform::media {

class QueuePlayer;

// The pictures of a player, for a layer of the layer tree (Layer::setFrameSource). Any
// number of player layers may show the same player; each gives the same picture for the
// same time. Placement (frame, gravity, hidden) belongs to the layer that shows it.
//
// Contract: frameAt(hostTime) is the player's QueuePlayer::frameAt (null without a player)
// and is safe from any thread; the rest is for the run loop's thread. isReadyForDisplay()
// follows the player's hasDisplayableFrame() and is set only when its value changes.
class PlayerLayer : public FrameSource {
  public:
    ~PlayerLayer() override = default;

    virtual void setPlayer(std::shared_ptr<QueuePlayer> player) = 0;
    virtual std::shared_ptr<QueuePlayer> player() const = 0;

    virtual Published<bool>& isReadyForDisplay() = 0;
    virtual bool readyForDisplay() const = 0;

  protected:
    PlayerLayer() = default;
    PlayerLayer(const PlayerLayer&) = delete;
    PlayerLayer& operator=(const PlayerLayer&) = delete;
};

}  // namespace kestio::platform::media
