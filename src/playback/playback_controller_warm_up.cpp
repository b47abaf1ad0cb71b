// Warm-up playback.

#include "playback/playback_controller.h"

namespace kestio {

void PlaybackController::warmUp(int bank, int slot, const std::filesystem::path& url,
                                const SlotData& data) {
    // TODO
    (void)bank;
    (void)slot;
    (void)url;
    (void)data;
}

void PlaybackController::signalWarmReady(uint64_t warmToken) {
    // TODO
    (void)warmToken;
}

void PlaybackController::waitForWarmReady(double timeout, std::function<void(bool ready)> done) {
    // TODO
    (void)timeout;
    (void)done;
}

}  // namespace kestio
