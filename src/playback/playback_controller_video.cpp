// The video path: loading a clip into the hidden slot (or taking over the preloaded one),
// starting it at its in point with its sound, and the guarded switch of the two slots.

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "playback/playback_controller.h"

namespace kestio {

void PlaybackController::playVideo(int bank, int slot, const std::filesystem::path& url,
                                   const SlotData& data, PlaybackSlot& target) {
    // TODO
    (void)bank;
    (void)slot;
    (void)url;
    (void)data;
    (void)target;
}

void PlaybackController::onVideoItemReady(const StartContext& context) {
    (void)context;
}

void PlaybackController::showWhenReady(const StartContext& context) {
    (void)context;
}

void PlaybackController::deferredStart(const StartContext& context) {
    (void)context;
}

void PlaybackController::startVideoAndSwitch(const StartContext& context) {
    (void)context;
}

void PlaybackController::performLayerSwitch(uint64_t generation, std::function<void()> action) {
    // TODO
    (void)generation;
    (void)action;
}

void PlaybackController::requestLayerSwitch(uint64_t generation, LayerSwitch change) {
    // TODO
    (void)generation;
    (void)change;
}

void PlaybackController::switchLayer(const LayerSwitch& change) {
    (void)change;
}

bool PlaybackController::isReadyToSwitch(PlaybackSlot& slot, bool dissolve) const {
    // TODO
    (void)slot;
    (void)dissolve;
    return false;
}

}  // namespace kestio
