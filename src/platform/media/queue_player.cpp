#include "platform/media/queue_player.h"

#include <limits>

namespace kestio::platform::media {

void QueuePlayer::seek(double time, std::function<void(bool)> completion) {
    const double unlimited = std::numeric_limits<double>::infinity();
    seek(time, unlimited, unlimited, std::move(completion));
}

}  // namespace kestio::platform::media
