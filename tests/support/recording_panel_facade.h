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
// and every write and playback call recorded in order as one text each ("edit 2 5",
// "unsaved", "toggleMute none", "postRoll black", "releaseLoop next", "playSlot 2 5",
// "arm stop", "meterPeak 0").
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

    // The show's playback as the panels see it: its calls go to `calls` too, its answers come
    // from the fields above and below.
    ShowPlayback& playback() override { return playback_; }
    // The published values of the clip on air, for the test to set and read.
    platform::Published<std::optional<int>>& currentBankIndex() { return playback_.bank; }
    platform::Published<std::optional<int>>& currentSlotIndex() { return playback_.slot; }
    platform::Published<double>& currentTime() { return playback_.time; }
    std::optional<double>& shownTime() { return playback_.shown; }
    platform::Published<double>& duration() { return playback_.length; }
    platform::Published<std::string>& selectedClipName() { return playback_.clipName; }
    platform::Published<bool>& isMuted() { return playback_.muted; }
    platform::Published<std::vector<float>>& vuLevels() { return playback_.levels; }
    platform::Published<int>& vuChannelCount() { return playback_.channels; }
    platform::Published<std::string>& outputDeviceName() { return playback_.device; }

    bool unsaved = false;

    // Picture and sound settings and thumbnail capture; the transport's calls are recorded as
    // "seek 15", "skip -1 29.97", "pause", "resume", "seeking 1".
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

    // Playback on the facade's record: the panels' calls as texts in `calls`, the state of the
    // facade's fields; what the panels never call records its name ("play 2 5", "log ...").
    class Playback final : public ShowPlayback {
      public:
        explicit Playback(RecordingPanelFacade& owner) : owner_(owner) {}

        platform::Published<std::optional<int>> bank;
        platform::Published<std::optional<int>> slot;
        platform::Published<double> time{0.0};
        // The picture's time when it is ahead of the published one.
        std::optional<double> shown;
        platform::Published<double> length{0.0};
        platform::Published<std::string> clipName{std::string("No Selection")};
        platform::Published<bool> muted{false};
        platform::Published<std::vector<float>> levels{std::vector<float>(8, -100.0f)};
        platform::Published<int> channels{2};
        platform::Published<std::string> device{std::string("Null Output (2ch)")};
        platform::Published<int> warmedDone{0};
        platform::Published<int> warmedTotal{0};

        void play(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                  platform::SizeF monitorSize) override;
        void preloadNext(int bank, int slot, const std::filesystem::path& url,
                         const SlotData& data) override;
        void standby(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                     platform::SizeF monitorSize) override;
        void log(const std::string& message) override;
        std::optional<std::filesystem::path> logFileURL() const override { return std::nullopt; }
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
        bool isWarming() const override { return false; }
        void setWarming(bool warming) override;
        bool isLooping() const override { return owner_.looping; }
        bool isShowingPlayerStopped() const override { return owner_.showingStopped; }
        void hideSlotLayers() override;
        void clearSurface() override;
        platform::Published<std::optional<int>>& currentBankIndex() override { return bank; }
        platform::Published<std::optional<int>>& currentSlotIndex() override { return slot; }
        platform::Published<std::string>& selectedClipName() override { return clipName; }
        platform::Published<bool>& isMuted() override { return muted; }
        platform::Published<int>& warmDone() override { return warmedDone; }
        platform::Published<int>& warmTotal() override { return warmedTotal; }
        platform::Published<double>& currentTime() override { return time; }
        double shownTime() override { return shown.value_or(time.get()); }
        platform::Published<double>& duration() override { return length; }
        platform::Published<std::vector<float>>& vuLevels() override { return levels; }
        platform::Published<int>& vuChannelCount() override { return channels; }
        platform::Published<std::string>& outputDeviceName() override { return device; }
        void setMeterPeak(bool peak) override;
        void seek(double seconds) override;
        void skip(int frames, double frameRate) override;
        void setSeeking(bool seeking) override;
        std::shared_ptr<platform::Layer> programLayer() override { return owner_.program; }
        void layoutProgram() override { ++owner_.programLayouts; }

      private:
        void record(std::string call) { owner_.calls.push_back(std::move(call)); }

        RecordingPanelFacade& owner_;
    };
    Playback playback_{*this};
};

}  // namespace kestio::test
