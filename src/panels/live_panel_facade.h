#pragma once

#include "panels/panel_facade.h"

namespace kestio {
class ShowController;
class ShowPlayback;
}  // namespace kestio

namespace kestio::panels {

// The panels' view of the application's show controller and, through the show's playback
// adapter, of playback. The show must outlive it. Main thread only.
class LivePanelFacade final : public PanelFacade {
  public:
    explicit LivePanelFacade(ShowController& show);

    const ProjectData& project() const override;
    platform::Published<std::uint64_t>& projectRevision() override;
    platform::Published<bool>& isMIDILearnMode() override;
    platform::Published<std::optional<MIDILearnTarget>>& midiLearnArmedTarget() override;
    platform::Published<bool>& isMeterPeak() override;
    platform::Published<bool>& isSettingJumpTarget() override;
    platform::Published<std::optional<int>>& jumpSourceBank() override;
    platform::Published<std::optional<int>>& jumpSourceSlot() override;
    double currentFrameRate() const override;
    bool editSlot(int bank, int slot, const std::function<void(SlotData&)>& edit) override;
    void markUnsaved() override;
    void armMIDILearn(const std::string& control) override;
    void playSlot(int bank, int slot) override;

    platform::Published<std::optional<int>>& currentBankIndex() override;
    platform::Published<std::optional<int>>& currentSlotIndex() override;
    platform::Published<double>& currentTime() override;
    platform::Published<double>& duration() override;
    platform::Published<std::string>& selectedClipName() override;
    platform::Published<bool>& isMuted() override;
    platform::Published<std::vector<float>>& vuLevels() override;
    platform::Published<int>& vuChannelCount() override;
    platform::Published<std::string>& outputDeviceName() override;
    bool isLooping() const override;
    bool isShowingPlayerStopped() const override;
    void handlePostRoll(PostRollMode mode) override;
    void releaseLoop(PostRollMode postRoll) override;
    void toggleMute(const std::optional<AudioSettings>& onAirAudio) override;
    void setMeterPeak(bool peak) override;
    std::shared_ptr<platform::Layer> programLayer() override;
    void layoutProgram() override;

    // Picture and sound settings, transport and thumbnail capture (live_panel_facade_edits.cpp).
    platform::Published<bool>& editLocked() override;
    platform::Published<bool>& geoScaleLocked() override;
    platform::Published<int>& eqPanelTab() override;
    platform::Published<std::optional<std::string>>& colorSliderEditingLabel() override;
    platform::Published<std::string>& colorSliderInputText() override;
    void seek(double seconds) override;
    void skip(int frames, double frameRate) override;
    void pause() override;
    void resume() override;
    void setSeeking(bool seeking) override;
    std::uint64_t projectGeneration() const override;
    std::optional<std::filesystem::path> currentProjectURL() const override;
    std::optional<std::filesystem::path> resolveSlotURL(int bank, int slot) override;

  private:
    ShowController& show_;
    ShowPlayback& playback_;
};

}  // namespace kestio::panels
