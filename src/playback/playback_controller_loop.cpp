// Looping and loop release.

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "playback/playback_controller.h"

namespace kestio {

void PlaybackController::playLoopVideo(int bank, int slot, const std::filesystem::path& url,
                                       const SlotData& data) {
    // TODO
    (void)bank;
    (void)slot;
    (void)url;
    (void)data;
}

void PlaybackController::cutWhenReadyForLoop(uint64_t generation, PlaybackSlot& slot,
                                             TransitionMode transition, double dissolveDuration,
                                             std::function<void()> onReady) {
    // TODO
    (void)generation;
    (void)slot;
    (void)transition;
    (void)dissolveDuration;
    (void)onReady;
}

void PlaybackController::installLoopObservers(PlaybackSlot& slot, std::optional<double> outPoint) {
    // TODO
    (void)slot;
    (void)outPoint;
}

void PlaybackController::handleLoopPeriodicTime(uint64_t generation, double time) {
    // TODO
    (void)generation;
    (void)time;
}

void PlaybackController::loopBoundaryFired(uint64_t generation, PostRollMode postRoll) {
    // TODO
    (void)generation;
    (void)postRoll;
}

void PlaybackController::releaseLoop(PostRollMode postRoll) {
    // TODO
    (void)postRoll;
}

}  // namespace kestio
