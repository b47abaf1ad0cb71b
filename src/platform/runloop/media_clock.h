#pragma once

#include "platform/runloop/time_types.h"

namespace kestio::platform {

// A clock that pictures and sounds are timed against. Host time is the run loop's clock
// (RunLoop::now()); a media clock maps it to its own time (ClockTime), which runs at about the same
// rate but need not start at the same point. An audio engine's clock gives the time of the
// sample being heard, so a picture that follows it stays with its sound.
//
// Both functions are safe to call from any thread.
class MediaClock {
  public:
    virtual ~MediaClock() = default;
    // The clock's time at host time `hostTime`.
    virtual ClockTime timeAt(HostTime hostTime) const = 0;
    // The host time at which the clock reads `clockTime` (for scheduling run-loop timers).
    virtual HostTime hostTimeAt(ClockTime clockTime) const = 0;
};

// Host time itself: the clock of stills and of clips without sound.
class HostTimeMediaClock final : public MediaClock {
  public:
    ClockTime timeAt(HostTime hostTime) const override { return ClockTime(hostTime.seconds()); }
    HostTime hostTimeAt(ClockTime clockTime) const override {
        return HostTime(clockTime.seconds());
    }
};

}  // namespace kestio::platform
