#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "show/show_playback.h"

namespace kestio::test {

// Playback for the show controller's tests: records every call in order as one text each
// ("play 0 3 /x.mp4 1920x1080", "postRoll black", ...), keeps the log lines, and lets the test
// publish the now-playing values and answer the warm-ready waits.
class FakeShowPlayback final : public ShowPlayback {
  public:
    std::vector<std::string> calls;
    std::vector<std::string> logLines;
    std::optional<std::filesystem::path> logFile;
    int logFileReopens = 0;
    bool warming = false;
    bool looping = false;
    // The showing playback slot's player stands still.
    bool showingStopped = false;
    // The record handed to the last play() and standby().
    std::optional<SlotData> lastPlayed;
    // How a warm-ready wait ends: answered at once with this value, or kept for the test to
    // answer (none).
    std::optional<bool> warmReadyAnswer;
    std::vector<std::function<void(bool)>> pendingWarmWaits;
    // A play() publishes the slot as on air (as the playback controller does).
    bool publishOnPlay = true;

    void play(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
              platform::SizeF monitorSize) override;
    void preloadNext(int bank, int slot, const std::filesystem::path& url,
                     const SlotData& data) override;
    void standby(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                 platform::SizeF monitorSize) override;
    void log(const std::string& message) override;
    std::optional<std::filesystem::path> logFileURL() const override { return logFile; }
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
    bool isWarming() const override { return warming; }
    void setWarming(bool value) override;
    bool isLooping() const override { return looping; }
    bool isShowingPlayerStopped() const override { return showingStopped; }
    void hideSlotLayers() override;
    void clearSurface() override;

    platform::Published<std::optional<int>>& currentBankIndex() override { return bank_; }
    platform::Published<std::optional<int>>& currentSlotIndex() override { return slot_; }
    platform::Published<std::string>& selectedClipName() override { return clipName_; }
    platform::Published<bool>& isMuted() override { return muted_; }
    platform::Published<int>& warmDone() override { return warmDone_; }
    platform::Published<int>& warmTotal() override { return warmTotal_; }

    // The panels' part: published values of the fake's own; each call recorded as
    // "meterPeak 1", "seek 15", "skip -1 29.97", "seeking 1", "layoutProgram".
    platform::Published<double>& currentTime() override { return time_; }
    double shownTime() override { return time_.get(); }
    platform::Published<double>& duration() override { return duration_; }
    platform::Published<std::vector<float>>& vuLevels() override { return levels_; }
    platform::Published<int>& vuChannelCount() override { return channels_; }
    platform::Published<std::string>& outputDeviceName() override { return device_; }
    void setMeterPeak(bool peak) override;
    void seek(double seconds) override;
    void skip(int frames, double frameRate) override;
    void setSeeking(bool seeking) override;
    std::shared_ptr<platform::Layer> programLayer() override { return nullptr; }
    void layoutProgram() override { calls.emplace_back("layoutProgram"); }

    // Publishes (bank, slot) as on air, or nothing on air.
    void setOnAir(std::optional<int> bank, std::optional<int> slot);
    // Answers the oldest pending warm-ready wait.
    void answerWarmWait(bool ready);
    // The recorded calls that start with `prefix`.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;

  private:
    platform::Published<std::optional<int>> bank_;
    platform::Published<std::optional<int>> slot_;
    platform::Published<std::string> clipName_{std::string("No Selection")};
    platform::Published<bool> muted_{false};
    platform::Published<int> warmDone_{0};
    platform::Published<int> warmTotal_{0};
    platform::Published<double> time_{0.0};
    platform::Published<double> duration_{0.0};
    platform::Published<std::vector<float>> levels_;
    platform::Published<int> channels_{2};
    platform::Published<std::string> device_{std::string("-")};
};

}  // namespace kestio::test
