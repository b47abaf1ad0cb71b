#pragma once

#include "playback/playback_controller.h"
#include "show/show_playback.h"

namespace kestio {

// The show's playback on the application's playback controller and its output surface. The
// controller's requests to play or preload another slot are handed on to onRequestPlay and
// onRequestPreloadNext. What it does on the output itself (a standby cue, the equaliser on air,
// hiding or emptying the slots) is an operation of the output surface. Main thread only; the
// controller must outlive this object.
class LiveShowPlayback final : public ShowPlayback {
  public:
    explicit LiveShowPlayback(PlaybackController& controller);

    void play(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
              platform::SizeF monitorSize) override;
    void preloadNext(int bank, int slot, const std::filesystem::path& url,
                     const SlotData& data) override;
    void standby(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                 platform::SizeF monitorSize) override;
    void log(const std::string& message) override;
    std::optional<std::filesystem::path> logFileURL() const override;
    void setLogFileURL(std::optional<std::filesystem::path> url) override;
    void reopenLogFile() override;
    void handlePostRoll(PostRollMode mode) override;
    void pause() override;
    void resume() override;
    void toggleMute(const std::optional<AudioSettings>& onAirAudio) override;
    void applySlotVolume(bool muted, float gainDB) override;
    void applyOutPoint(std::optional<double> outPoint) override;
    void setPlaybackRate(double rate) override;
    void updateGeometry(const GeometrySettings& geometry) override;
    void applyColorSettings(const ColorSettings& color) override;
    void applyEqualizerToShowingSlot(const EqualizerSettings& equalizer) override;
    void releaseLoop(PostRollMode postRoll) override;
    void removeObservers() override;
    void waitForWarmReady(double timeout, std::function<void(bool)> done) override;
    bool isWarming() const override;
    void setWarming(bool warming) override;
    bool isLooping() const override;
    bool isShowingPlayerStopped() const override;
    void hideSlotLayers() override;
    void clearSurface() override;
    std::optional<SlotRef> onAirOrOnItsWay() override;
    platform::Published<std::optional<int>>& currentBankIndex() override;
    platform::Published<std::optional<int>>& currentSlotIndex() override;
    platform::Published<std::string>& selectedClipName() override;
    platform::Published<bool>& isMuted() override;
    platform::Published<int>& warmDone() override;
    platform::Published<int>& warmTotal() override;
    platform::Published<double>& currentTime() override;
    double shownTime() override;
    platform::Published<double>& duration() override;
    platform::Published<std::vector<float>>& vuLevels() override;
    platform::Published<int>& vuChannelCount() override;
    platform::Published<std::string>& outputDeviceName() override;
    void setMeterPeak(bool peak) override;
    void seek(double seconds) override;
    void skip(int frames, double frameRate) override;
    void setSeeking(bool seeking) override;
    std::shared_ptr<platform::Layer> programLayer() override;
    void layoutProgram() override;

  private:
    PlaybackController& controller_;
    // The controller's output surface, driven through its own operations.
    output::OutputSurface& surface_;
};

}  // namespace kestio
