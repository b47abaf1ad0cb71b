#include "show/live_show_playback.h"

#include "output/output_surface.h"

namespace kestio {

LiveShowPlayback::LiveShowPlayback(PlaybackController& controller)
    : controller_(controller), surface_(controller.view()) {
    controller_.onRequestPlay = [this](int bank, int slot) {
        if (onRequestPlay) {
            onRequestPlay(bank, slot);
        }
    };
    controller_.onRequestPreloadNext = [this](int bank, int slot) {
        if (onRequestPreloadNext) {
            onRequestPreloadNext(bank, slot);
        }
    };
    controller_.onCueFailed = [this](int bank, int slot, const std::string& reason) {
        if (onCueFailed) {
            onCueFailed(bank, slot, reason);
        }
    };
}

void LiveShowPlayback::play(int bank, int slot, const std::filesystem::path& url,
                            const SlotData& data, platform::SizeF monitorSize) {
    controller_.play(bank, slot, url, data, monitorSize);
}

void LiveShowPlayback::preloadNext(int bank, int slot, const std::filesystem::path& url,
                                   const SlotData& data) {
    controller_.preloadNext(bank, slot, url, data);
}

void LiveShowPlayback::standby(int bank, int slot, const std::filesystem::path& url,
                               const SlotData& data, platform::SizeF monitorSize) {
    controller_.standby(bank, slot, url, data, monitorSize);
}

void LiveShowPlayback::log(const std::string& message) {
    controller_.log(message);
}

std::optional<std::filesystem::path> LiveShowPlayback::logFileURL() const {
    return controller_.logFileURL;
}

void LiveShowPlayback::setLogFileURL(std::optional<std::filesystem::path> url) {
    controller_.logFileURL = std::move(url);
}

void LiveShowPlayback::reopenLogFile() {
    controller_.reopenLogFile();
}
void LiveShowPlayback::handlePostRoll(PostRollMode mode) {
    controller_.handlePostRoll(mode);
}
void LiveShowPlayback::pause() {
    controller_.pause();
}
void LiveShowPlayback::resume() {
    controller_.resume();
}

void LiveShowPlayback::toggleMute(const std::optional<AudioSettings>& onAirAudio) {
    controller_.toggleMute(onAirAudio);
}

void LiveShowPlayback::applySlotVolume(bool muted, float gainDB) {
    controller_.applySlotVolume(muted, gainDB);
}

void LiveShowPlayback::applyOutPoint(std::optional<double> outPoint) {
    controller_.applyOutPoint(outPoint);
}

void LiveShowPlayback::setPlaybackRate(double rate) {
    controller_.setPlaybackRate(rate);
}

void LiveShowPlayback::updateGeometry(const GeometrySettings& geometry) {
    controller_.updateGeometry(geometry);
}

void LiveShowPlayback::applyColorSettings(const ColorSettings& color) {
    controller_.applyColorSettings(color);
}

void LiveShowPlayback::applyEqualizerToShowingSlot(const EqualizerSettings& equalizer) {
    surface_.applyEqualizerOnAir(equalizer);
}

void LiveShowPlayback::releaseLoop(PostRollMode postRoll) {
    controller_.releaseLoop(postRoll);
}
void LiveShowPlayback::removeObservers() {
    controller_.removeObservers();
}

void LiveShowPlayback::waitForWarmReady(double timeout, std::function<void(bool)> done) {
    controller_.waitForWarmReady(timeout, std::move(done));
}

bool LiveShowPlayback::isWarming() const {
    return controller_.isWarming();
}

void LiveShowPlayback::setWarming(bool warming) {
    controller_.setWarming(warming);
}

bool LiveShowPlayback::isLooping() const {
    return controller_.isLooping();
}

bool LiveShowPlayback::isShowingPlayerStopped() const {
    return surface_.isOnAirStopped();
}

void LiveShowPlayback::hideSlotLayers() {
    surface_.hideSlots();
}

void LiveShowPlayback::clearSurface() {
    // Through the controller, so that the play in force ends with the picture: none of its
    // steps (a preload's wait, a clock, a dissolve's end) acts after the output is emptied.
    controller_.stopOutput();
}

std::optional<SlotRef> LiveShowPlayback::onAirOrOnItsWay() {
    return controller_.view().onAirOrOnItsWay();
}
platform::Published<std::optional<int>>& LiveShowPlayback::currentBankIndex() {
    return controller_.currentBankIndex;
}
platform::Published<std::optional<int>>& LiveShowPlayback::currentSlotIndex() {
    return controller_.currentSlotIndex;
}
platform::Published<std::string>& LiveShowPlayback::selectedClipName() {
    return controller_.selectedClipName;
}
platform::Published<bool>& LiveShowPlayback::isMuted() {
    return controller_.isMuted;
}
platform::Published<int>& LiveShowPlayback::warmDone() {
    return controller_.warmDone;
}
platform::Published<int>& LiveShowPlayback::warmTotal() {
    return controller_.warmTotal;
}

platform::Published<double>& LiveShowPlayback::currentTime() {
    return controller_.currentTime;
}
double LiveShowPlayback::shownTime() {
    return controller_.shownTime();
}
platform::Published<double>& LiveShowPlayback::duration() {
    return controller_.duration;
}
platform::Published<std::vector<float>>& LiveShowPlayback::vuLevels() {
    return controller_.vuLevels;
}
platform::Published<int>& LiveShowPlayback::vuChannelCount() {
    return controller_.vuChannelCount;
}
platform::Published<std::string>& LiveShowPlayback::outputDeviceName() {
    return controller_.outputDeviceName;
}
void LiveShowPlayback::setMeterPeak(bool peak) {
    controller_.setMeterPeak(peak);
}
void LiveShowPlayback::seek(double seconds) {
    controller_.seek(seconds);
}
void LiveShowPlayback::skip(int frames, double frameRate) {
    controller_.skip(frames, frameRate);
}
void LiveShowPlayback::setSeeking(bool seeking) {
    controller_.isSeeking = seeking;
}
std::shared_ptr<platform::Layer> LiveShowPlayback::programLayer() {
    return surface_.rootLayer();
}
void LiveShowPlayback::layoutProgram() {
    surface_.layout();
}

}  // namespace kestio
