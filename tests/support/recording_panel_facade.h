#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "panels/panel_facade.h"

namespace kestio::test {

// The panels' facade for widget tests: a project of its own, published values the test sets,
// and every write and output call recorded in order as one text each ("edit 2 5",
// "unsaved", "toggleMute none",
// "postRoll black", "releaseLoop next", "playSlot 2 5", "arm stop", "meterPeak 0").
class RecordingPanelFacade : public panels::PanelFacade {
  public:
    // A project of `banks` banks of `slotsPerBank` default slots.
    explicit RecordingPanelFacade(int banks = 20, int slotsPerBank = 40);

    std::vector<std::string> calls;
    ProjectData projectData;
    bool looping = false;
    bool showingStopped = false;
    double frameRate = 29.97;
    // The program picture: a layer tree of the test's, or none.
    std::shared_ptr<platform::Layer> program;
    int programLayouts = 0;

    // Publishes (bank, slot) as loaded, or nothing loaded.
    void setLoaded(std::optional<int> bank, std::optional<int> slot);
    SlotData& slot(int bank, int index);

    const ProjectData& project() const override { return projectData; }
    platform::Published<std::uint64_t>& projectRevision() override { return revision_; }
    platform::Published<bool>& isMIDILearnMode() override { return learnMode_; }
    platform::Published<std::optional<MIDILearnTarget>>& midiLearnArmedTarget() override {
        return armed_;
    }
    platform::Published<bool>& isMeterPeak() override { return meterPeakView_; }
    platform::Published<bool>& isSettingJumpTarget() override { return settingJump_; }
    platform::Published<std::optional<int>>& jumpSourceBank() override { return jumpBank_; }
    platform::Published<std::optional<int>>& jumpSourceSlot() override { return jumpSlot_; }
    double currentFrameRate() const override { return frameRate; }
    bool editSlot(int bank, int slot, const std::function<void(SlotData&)>& edit) override;
    void markUnsaved() override;
    void armMIDILearn(const std::string& control) override;
    void playSlot(int bank, int slot) override;

    platform::Published<std::optional<int>>& currentBankIndex() override { return bank_; }
    platform::Published<std::optional<int>>& currentSlotIndex() override { return slot_; }
    platform::Published<double>& currentTime() override { return time_; }
    platform::Published<double>& duration() override { return duration_; }
    platform::Published<std::string>& selectedClipName() override { return clipName_; }
    platform::Published<bool>& isMuted() override { return muted_; }
    platform::Published<std::vector<float>>& vuLevels() override { return levels_; }
    platform::Published<int>& vuChannelCount() override { return channels_; }
    platform::Published<std::string>& outputDeviceName() override { return device_; }
    bool isLooping() const override { return looping; }
    bool isShowingPlayerStopped() const override { return showingStopped; }
    void handlePostRoll(PostRollMode mode) override;
    void releaseLoop(PostRollMode postRoll) override;
    void toggleMute(const std::optional<AudioSettings>& onAirAudio) override;
    void setMeterPeak(bool peak) override;
    std::shared_ptr<platform::Layer> programLayer() override { return program; }
    void layoutProgram() override { ++programLayouts; }

    bool unsaved = false;

    // Picture and sound settings, transport and thumbnail capture; each call recorded as
    // "seek 15", "skip -1 29.97", "pause", "resume",
    // "seeking 1".
    std::uint64_t generation = 0;
    std::optional<std::filesystem::path> packageURL;
    // The media file of each slot as the show would resolve it (none: not reachable).
    std::function<std::optional<std::filesystem::path>(int, int)> slotURL;
    bool seeking = false;
    platform::Published<bool>& editLocked() override { return editLocked_; }
    platform::Published<bool>& geoScaleLocked() override { return geoScaleLocked_; }
    platform::Published<int>& eqPanelTab() override { return eqPanelTab_; }
    platform::Published<std::optional<std::string>>& colorSliderEditingLabel() override {
        return editingLabel_;
    }
    platform::Published<std::string>& colorSliderInputText() override { return inputText_; }
    void seek(double seconds) override;
    void skip(int frames, double frameRate) override;
    void pause() override { calls.emplace_back("pause"); }
    void resume() override { calls.emplace_back("resume"); }
    void setSeeking(bool value) override;
    std::uint64_t projectGeneration() const override { return generation; }
    std::optional<std::filesystem::path> currentProjectURL() const override { return packageURL; }
    std::optional<std::filesystem::path> resolveSlotURL(int bank, int slot) override {
        return slotURL ? slotURL(bank, slot) : std::nullopt;
    }

  private:
    platform::Published<bool> editLocked_{false};
    platform::Published<bool> geoScaleLocked_{true};
    platform::Published<int> eqPanelTab_{0};
    platform::Published<std::optional<std::string>> editingLabel_;
    platform::Published<std::string> inputText_;
    platform::Published<std::uint64_t> revision_{0};
    platform::Published<bool> learnMode_{false};
    platform::Published<std::optional<MIDILearnTarget>> armed_;
    platform::Published<bool> meterPeakView_{true};
    platform::Published<bool> settingJump_{false};
    platform::Published<std::optional<int>> jumpBank_;
    platform::Published<std::optional<int>> jumpSlot_;
    platform::Published<std::optional<int>> bank_;
    platform::Published<std::optional<int>> slot_;
    platform::Published<double> time_{0.0};
    platform::Published<double> duration_{0.0};
    platform::Published<std::string> clipName_{std::string("No Selection")};
    platform::Published<bool> muted_{false};
    platform::Published<std::vector<float>> levels_{std::vector<float>(8, -100.0f)};
    platform::Published<int> channels_{2};
    platform::Published<std::string> device_{std::string("Null Output (2ch)")};
};

}  // namespace kestio::test
