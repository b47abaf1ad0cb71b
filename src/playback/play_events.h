#pragma once

// What the parts of playback report to the controller that keeps the order of events, and the
// published values of the clip on air they keep up to date. The parts never call into the
// controller otherwise.

#include <optional>
#include <string>
#include <string_view>

#include "model/model_enums.h"
#include "platform/runloop/published.h"

namespace kestio {

struct Play;

class PlayEvents {
  public:
    virtual ~PlayEvents() = default;
    // A line for the play log.
    virtual void log(std::string_view message) = 0;
    // The post-roll of the clip on air is due in `mode`.
    virtual void postRollDue(PostRollMode mode) = 0;
    // The post-roll of the clip on air is due in the mode its record gives now.
    virtual void postRollDueOnAir() = 0;
    // The cue of (bank, slot) did not go on air, for `reason`.
    virtual void cueFailed(int bank, int slot, const std::string& reason) = 0;
    // The clip that follows the one starting, (bank, slot), is wanted preloaded.
    virtual void followerWanted(int bank, int slot) = 0;
    // `play`'s clip starts: published as the one playing with its name, its position `time` and
    // its length `length`.
    virtual void starting(Play& play, const std::string& name, double time, double length) = 0;

  protected:
    PlayEvents() = default;
    PlayEvents(const PlayEvents&) = default;
    PlayEvents& operator=(const PlayEvents&) = default;
};

// The published values of the clip on air, as the controller publishes them.
struct NowPlaying {
    platform::Published<double>& currentTime;
    platform::Published<double>& duration;
    platform::Published<std::string>& selectedClipName;
    platform::Published<bool>& isMuted;
    // True while the operator drags the timeline: the clocks publish and decide nothing.
    const bool& isSeeking;
};

}  // namespace kestio
