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
// Owns the standby cue's watch (its item's status, and what its clock watches once on air). Acts on
// the slot on air and the published values.
//
// Life, as every part of a play has it: start(play) binds the transport to the play in force
// (held weakly; the controller starts it with each play), and stop() ends the standby cue's watch
// and releases the play. Every other step acts for the play bound: what it shares with the other
// parts (audio-only, whether its post-roll has been set off), the standby cue it loads and takes.
// Without a play in force (stopped, or its play ended) a step still acts on the slot on air, and
// on nothing of a play.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "model/settings_records.h"
#include "model/slot_data.h"
#include "platform/graphics/geometry.h"
#include "platform/runloop/run_loop.h"
#include "playback/play.h"
#include "playback/play_events.h"

namespace kestio::platform::media {
class PlayerItem;
}
namespace kestio::output {
class OutputSurface;
class PlaybackSlot;
class TestToneGenerator;
}  // namespace kestio::output

namespace kestio {

class ClipClock;
class PostRollPolicy;
class ProgramMeter;
class SlotSound;

class Transport {
  public:
    // The parts the transport drives.
    struct Parts {
        ClipClock& clock;
        ProgramMeter& meter;
        output::TestToneGenerator& toneGen;
        const PostRollPolicy& policy;
        const SlotSound& sound;
    };
    // A standby cue loaded into the hidden slot: the slot and its item.
    struct StandbyCue {
        output::PlaybackSlot& slot;
        std::shared_ptr<platform::media::PlayerItem> item;
    };

    Transport(platform::RunLoop& loop, output::OutputSurface& view, NowPlaying now,
              PlayEvents& events, Parts parts)
        : loop_(loop), view_(view), now_(now), events_(events), parts_(parts) {}

    // Acts for `play` from now on.
    void start(Play& play) { play_ = play.weak_from_this(); }
    // Ends the standby cue's watch, forgets what its clock was to watch, and releases the play.
    void stop();

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
    // Loads the play's slot from its file into the hidden slot as the standby cue and publishes
    // it with its own position and length; none when nothing could be loaded (or no play is
    // bound).
    std::optional<StandbyCue> standby(const SlotData& data, platform::SizeF monitorSize);
    // Watches the standby cue's item for the play: `changed` is called at each change of its
    // status until stop().
    void watchStandby(const StandbyCue& cue, std::function<void()> changed);
    // `item` is ready and still `slot`'s current item `loadedItem`: the standby cue may be taken.
    static bool isStandbyReady(const std::shared_ptr<platform::media::PlayerItem>& item,
                               output::PlaybackSlot& slot,
                               const std::shared_ptr<platform::media::PlayerItem>& loadedItem);
    // Seeks `slot` to `inPoint`, cuts to it paused there, publishes it and watches it, for the
    // play only.
    void takeStandby(output::PlaybackSlot& slot, double inPoint);

  private:
    // Whether the showing slot's clip is started (not paused, not still preparing).
    bool isShowingClipRunning();
    // Starts the clip `slot` holds from clip time `from`, picture and sound together.
    void playOnAir(output::PlaybackSlot& slot, double from);
    // The end an audio-only clip's clock runs to: its out point, within the published length.
    double audioEnd() const;

    // What the standby cue's clock watches once it is on air.
    struct StandbyWatch {
        std::optional<double> outPoint;
        double fps = 30.0;
    };

    platform::RunLoop& loop_;
    output::OutputSurface& view_;
    NowPlaying now_;
    PlayEvents& events_;
    Parts parts_;
    // The play the transport acts for.
    std::weak_ptr<Play> play_;
    StandbyWatch standbyWatch_;
    platform::Subscription standbyObserver_;
};

}  // namespace kestio
