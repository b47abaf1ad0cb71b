// Post-roll: what follows a clip's end or out point (next, freeze, loop, black, jump).

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "playback/playback_controller.h"

namespace kestio {

void PlaybackController::handlePostRoll(PostRollMode mode) {
    // TODO
    (void)mode;
}

std::optional<SlotRef> PlaybackController::nextPostRollTarget(int bank, int slot) const {
    // TODO
    (void)bank;
    (void)slot;
    return std::nullopt;
}

void PlaybackController::postRollNext(int bank, int slot) {
    (void)bank;
    (void)slot;
}

void PlaybackController::postRollFreeze(uint64_t generation) {
    (void)generation;
}

void PlaybackController::postRollLoop(int bank, int slot) {
    (void)bank;
    (void)slot;
}

void PlaybackController::postRollBlack() {}

void PlaybackController::postRollJump(int bank, int slot) {
    (void)bank;
    (void)slot;
}

}  // namespace kestio
