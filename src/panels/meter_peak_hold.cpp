#include "panels/meter_peak_hold.h"

#include <algorithm>
#include <limits>

namespace kestio::panels {

MeterLevels meterLevels(const std::vector<float>& levels) {
    MeterLevels out;
    out.fill(-100.0f);
    std::copy_n(levels.begin(), std::min<std::size_t>(levels.size(), out.size()), out.begin());
    return out;
}

MeterPeakHold::MeterPeakHold() {
    peaks_.fill(kFloor);
    // The distant past: a first peak is not held by a time it never had.
    raisedAt_.fill(platform::HostTime(-std::numeric_limits<double>::infinity()));
}

void MeterPeakHold::capture(const MeterLevels& levels, platform::HostTime now) {
    for (int ch = 0; ch < kMeterChannels; ++ch) {
        if (peaks_[ch] < levels[ch]) {
            peaks_[ch] = levels[ch];
            raisedAt_[ch] = now;
        }
    }
}

void MeterPeakHold::tick(platform::HostTime now) {
    const auto step = static_cast<float>(kDecayPerSecond * kTickSeconds);
    for (int ch = 0; ch < kMeterChannels; ++ch) {
        if (now - raisedAt_[ch] > kHoldSeconds) {
            peaks_[ch] = std::max(peaks_[ch] - step, kFloor);
        }
    }
}

bool MeterPeakHold::resting() const {
    return std::all_of(peaks_.begin(), peaks_.end(), [](float peak) { return peak <= kFloor; });
}

}  // namespace kestio::panels
