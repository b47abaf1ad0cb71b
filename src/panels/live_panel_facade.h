#pragma once

#include "panels/panel_facade.h"

namespace kestio {
class ShowController;
}

namespace kestio::panels {

// The panels' view of the application's show controller; playback is the show's own adapter. The
// show must outlive it. Main thread only.
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

    ShowPlayback& playback() override;

    platform::Published<bool>& editLocked() override;
    platform::Published<bool>& geoScaleLocked() override;
    platform::Published<int>& eqPanelTab() override;
    platform::Published<std::optional<std::string>>& colorSliderEditingLabel() override;
    platform::Published<std::string>& colorSliderInputText() override;
    std::uint64_t projectGeneration() const override;
    std::optional<std::filesystem::path> currentProjectURL() const override;
    std::optional<std::filesystem::path> resolveSlotURL(int bank, int slot) override;

  private:
    ShowController& show_;
};

}  // namespace kestio::panels
