#pragma once

#include <array>
#include <vector>

#include "platform/runloop/time_types.h"

namespace kestio::panels {

inline constexpr int kMeterChannels = 8;
using MeterLevels = std::array<float, kMeterChannels>;

// The first eight levels of `levels`, missing ones as silence (-100 dB).
MeterLevels meterLevels(const std::vector<float>& levels);

// The held peaks of the eight meter channels. A peak rises at once to any higher level it is
// shown; it is held for 0.6 s after it last rose, then falls 1.5 dB a tick (a tick is 0.05 s, so
// 30 dB a second) down to -41 dB, one below the scale, where it rests. The fall step is fixed:
// a late tick does not fall further. Peaks that were never raised rest there from the start.
class MeterPeakHold {
  public:
    static constexpr double kHoldSeconds = 0.6;
    static constexpr double kDecayPerSecond = 30.0;
    static constexpr double kTickSeconds = 0.05;
    static constexpr float kFloor = -41.0f;

    MeterPeakHold();

    // A new level array was shown at `now`: each channel's peak rises to a higher level.
    void capture(const MeterLevels& levels, platform::HostTime now);
    // One tick at `now`: peaks held longer than the hold fall one step.
    void tick(platform::HostTime now);

    const MeterLevels& peaks() const { return peaks_; }
    // True when every peak rests at the bottom: ticks would change nothing.
    bool resting() const;

  private:
    MeterLevels peaks_;
    std::array<platform::HostTime, kMeterChannels> raisedAt_;
};

}  // namespace kestio::panels
