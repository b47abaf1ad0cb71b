#pragma once

// Transport operations on the slot on air: pause and resume, mute, seek and frame steps, rate,
// level, geometry and colour while on air, the test tone off, and the standby cue (a slot cued
// paused at its in point and taken once its picture stands there).
//
// A clip's picture follows its sound on the engine clock, so the two are always moved together:
// pausing stops the slot's clip player (the picture shown stays), resuming starts it again from
// the picture's position at the engine clock's present, and a seek of a running clip restarts
// both at the new position. A paused clip's seek moves only the picture; the sound follows it
// on resume.

//
// Owns nothing of its own: it acts on the slot on air and the controller's published values,
// in the controller's order of events (a transport step never starts or ends a clip, except the
// standby cue's take).

#include <filesystem>
#include <optional>

#include "model/settings_records.h"
#include "playback/playback_controller.h"

namespace kestio {

class Transport {
  public:
    explicit Transport(PlaybackController& controller) : pc_(controller) {}

    void pause();
    void resume();
    void toggleMute(const std::optional<AudioSettings>& settings);
    void seek(double seconds);
    void skip(int frames, double frameRate);
    void setPlaybackRate(double rate);
    void applySlotVolume(bool muted, float gainDB);
    void updateGeometry(const GeometrySettings& geometry);
    void applyColorSettings(const ColorSettings& color);
    void stopTestTone();
    void standby(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                 platform::SizeF monitorSize);
    void handleStatusChange(const PlaybackController::ItemPtr& item, output::PlaybackSlot& slot,
                            const PlaybackController::ItemPtr& loadedItem,
                            const std::filesystem::path& url, double inPoint);

  private:
    // Whether the showing slot's clip is started (not paused, not still preparing).
    bool isShowingClipRunning();
    // Starts the clip `slot` holds from clip time `from`, picture and sound together.
    void playOnAir(output::PlaybackSlot& slot, double from);

    // What the standby cue's clock watches once it is on air.
    struct StandbyWatch {
        std::optional<double> outPoint;
        double fps = 30.0;
    };

    PlaybackController& pc_;
    StandbyWatch standbyWatch_;
};

}  // namespace kestio
