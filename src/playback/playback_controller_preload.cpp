// Next-cue preload.

#include "playback/playback_controller.h"

namespace kestio {

void PlaybackController::preloadNext(int bank, int slot, const std::filesystem::path& url,
                                     const SlotData& data) {
    // TODO
    (void)bank;
    (void)slot;
    (void)url;
    (void)data;
}

}  // namespace kestio
