#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/settings_records.h"
#include "model/slot_data.h"
#include "output/slot_cue.h"
#include "platform/graphics/geometry.h"
#include "platform/runloop/published.h"

namespace kestio::platform {
class Layer;
}

namespace kestio {

// The one adapter to playback, for the show controller and the panels: the operations on the
// slot on air, the play log, the warm-up mode, the published now-playing values and the
// transport and program picture the panels use. The application's implementation drives the
// playback controller and its output surface; tests record the calls and publish values
// themselves. Main thread only.
class ShowPlayback {
  public:
    virtual ~ShowPlayback() = default;

    // Plays the slot record from the file as (bank, slot) on an output canvas of that size.
    virtual void play(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                      platform::SizeF monitorSize) = 0;
    // Loads the slot into the hidden playback slot as the next cue.
    virtual void preloadNext(int bank, int slot, const std::filesystem::path& url,
                             const SlotData& data) = 0;
    // Cues the slot paused at its in point on the hidden playback slot: sets the canvas size,
    // removes the observers, forgets the preload, loads the clip, publishes (bank, slot) and
    // the clip name, and cuts to it once its picture stands at the in point.
    virtual void standby(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                         platform::SizeF monitorSize) = 0;

    // One play-log line (the time of day is added).
    virtual void log(const std::string& message) = 0;
    virtual std::optional<std::filesystem::path> logFileURL() const = 0;
    virtual void setLogFileURL(std::optional<std::filesystem::path> url) = 0;
    virtual void reopenLogFile() = 0;

    virtual void handlePostRoll(PostRollMode mode) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Flips the global mute and applies the volume of the slot on air.
    virtual void toggleMute(const std::optional<AudioSettings>& onAirAudio) = 0;
    virtual void applySlotVolume(bool muted, float gainDB) = 0;
    // The clip on air ends at `outPoint` (none: at its end) from now on.
    virtual void applyOutPoint(std::optional<double> outPoint) = 0;
    // Sets the play rate of the clip on air.
    virtual void setPlaybackRate(double rate) = 0;
    virtual void updateGeometry(const GeometrySettings& geometry) = 0;
    virtual void applyColorSettings(const ColorSettings& color) = 0;
    // Applies the equaliser to the audio chain of the playback slot now showing.
    virtual void applyEqualizerToShowingSlot(const EqualizerSettings& equalizer) = 0;
    virtual void releaseLoop(PostRollMode postRoll) = 0;
    virtual void removeObservers() = 0;

    // Calls done(true) when the picture of the slot just played (in the warm-up way) is ready
    // for display, or done(false) once `timeout` seconds pass; exactly once either way.
    virtual void waitForWarmReady(double timeout, std::function<void(bool)> done) = 0;

    // The warm-up way of playing: hidden and muted, readiness reported through
    // waitForWarmReady(). Sets the flag of the controller and of its output surface together.
    virtual bool isWarming() const = 0;
    virtual void setWarming(bool warming) = 0;
    virtual bool isLooping() const = 0;
    // True when the player of the playback slot now showing stands still (its rate is 0), as a
    // clip frozen at its end does.
    virtual bool isShowingPlayerStopped() const = 0;

    // Sets the opacity of both playback slots' picture layers to 0 at once.
    virtual void hideSlotLayers() = 0;
    // Ends the play in force and empties the output surface: every watcher and deferred step of
    // the play ended (a preload waiting for the hidden slot, a still's clock), pending dissolves
    // dropped, both playback slots cleared, slot A showing, the layer-log line "stopAll", idle
    // published.
    virtual void clearSurface() = 0;

    // The slot on air or on its way there (bank and slot from 0): what the panels name as
    // playing, what a stop ends and what the keys and edits act on; none while neither is. The
    // output surface's record; by default as the published values below name it (a test's
    // playback publishes them itself).
    virtual std::optional<SlotRef> onAirOrOnItsWay() {
        const auto& bank = currentBankIndex().get();
        const auto& slot = currentSlotIndex().get();
        return bank && slot ? std::optional(SlotRef{*bank, *slot}) : std::nullopt;
    }
    // Published values of the slot on air or on its way there, as onAirOrOnItsWay() names it,
    // for the panels to follow.
    virtual platform::Published<std::optional<int>>& currentBankIndex() = 0;
    virtual platform::Published<std::optional<int>>& currentSlotIndex() = 0;
    virtual platform::Published<std::string>& selectedClipName() = 0;
    virtual platform::Published<bool>& isMuted() = 0;
    virtual platform::Published<int>& warmDone() = 0;
    virtual platform::Published<int>& warmTotal() = 0;

    // ---- What the panels read and drive of the clip on air ----
    // Its position and length in seconds, the meter levels and channel count, and the name of
    // the sound output device.
    virtual platform::Published<double>& currentTime() = 0;
    // The clip time of the picture on screen now; currentTime() is published by a clock check
    // and may lag it.
    virtual double shownTime() = 0;
    virtual platform::Published<double>& duration() = 0;
    virtual platform::Published<std::vector<float>>& vuLevels() = 0;
    virtual platform::Published<int>& vuChannelCount() = 0;
    virtual platform::Published<std::string>& outputDeviceName() = 0;
    // The meters' mode: peak or average.
    virtual void setMeterPeak(bool peak) = 0;
    // Publishes the position and moves the clip on air there.
    virtual void seek(double seconds) = 0;
    // Steps `frames` frames of `frameRate` from the current position.
    virtual void skip(int frames, double frameRate) = 0;
    // While on, the clip's clock publishes no position.
    virtual void setSeeking(bool seeking) = 0;
    // The program output's layer tree and its layout pass.
    virtual std::shared_ptr<platform::Layer> programLayer() = 0;
    virtual void layoutProgram() = 0;

    // Requests of the playback controller (a post-roll that goes on to another slot, and the
    // preload of the slot that follows the one starting), answered by the show controller.
    std::function<void(int bank, int slot)> onRequestPlay;
    std::function<void(int bank, int slot)> onRequestPreloadNext;
    // Told when a cue did not go on air (its file could not be opened or decoded), with the
    // reason; what was on air stays on air. The show controller answers it.
    std::function<void(int bank, int slot, const std::string& reason)> onCueFailed;
};

}  // namespace kestio
