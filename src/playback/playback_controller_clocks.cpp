// Clip clocks and end watchers: the position published while a clip plays, and the decision
// that its out point or its end has come.

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "playback/playback_controller.h"

namespace kestio {

void PlaybackController::installTimeObservers(PlaybackSlot& slot, std::optional<double> outPoint,
                                              double inPoint, double fps) {
    // TODO
    (void)slot;
    (void)outPoint;
    (void)inPoint;
    (void)fps;
}

void PlaybackController::handlePeriodicTime(uint64_t generation, double time) {
    (void)generation;
    (void)time;
}

void PlaybackController::outPointReached(uint64_t generation) {
    (void)generation;
}

void PlaybackController::firePostRollForCurrentSlot(uint64_t generation) {
    (void)generation;
}

void PlaybackController::firePostRoll(uint64_t generation, int bank, int slot) {
    (void)generation;
    (void)bank;
    (void)slot;
}

void PlaybackController::observeItemEnd(const ItemPtr& item) {
    (void)item;
}

void PlaybackController::itemDidPlayToEnd(uint64_t generation) {
    (void)generation;
}

void PlaybackController::startStillTimer(double seconds) {
    (void)seconds;
}

void PlaybackController::stillTimerTick(uint64_t generation) {
    (void)generation;
}

void PlaybackController::startAudioTimer(double start, double end) {
    (void)start;
    (void)end;
}

void PlaybackController::audioTimerTick(uint64_t generation) {
    (void)generation;
}

PostRollMode PlaybackController::postRollModeOnAir() const {
    const auto data = slotDataOnAir();
    return data ? data->postRollMode : PostRollMode::freeze;
}

}  // namespace kestio
