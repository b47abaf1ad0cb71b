// Transport operations on the slot on air.

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "playback/playback_controller.h"

namespace kestio {

// TODO: every operation below.
void PlaybackController::pause() {}

void PlaybackController::resume() {}

void PlaybackController::toggleMute(const std::optional<AudioSettings>& settings) {
    (void)settings;
}

void PlaybackController::seek(double seconds) {
    (void)seconds;
}

void PlaybackController::skip(int frames, double frameRate) {
    (void)frames;
    (void)frameRate;
}

void PlaybackController::setPlaybackRate(double rate) {
    (void)rate;
}

void PlaybackController::applySlotVolume(bool muted, float gainDB) {
    (void)muted;
    (void)gainDB;
}

void PlaybackController::updateGeometry(const GeometrySettings& geometry) {
    (void)geometry;
}

void PlaybackController::applyColorSettings(const ColorSettings& color) {
    (void)color;
}

void PlaybackController::stopTestTone() {}

void PlaybackController::handleStatusChange(const ItemPtr& item, PlaybackSlot& slot,
                                            const ItemPtr& loadedItem,
                                            const std::filesystem::path& url, double inPoint) {
    (void)item;
    (void)slot;
    (void)loadedItem;
    (void)url;
    (void)inPoint;
}

}  // namespace kestio
