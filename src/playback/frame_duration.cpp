#include "playback/frame_duration.h"

#include <cmath>

#include "platform/media/media_time.h"

namespace kestio {

double frameDuration(std::optional<double> nominalFrameRate) {
    if (!nominalFrameRate || !std::isfinite(*nominalFrameRate) || *nominalFrameRate <= 0.0) {
        return 1.0 / 30.0;
    }
    const double r = *nominalFrameRate;
    for (const double base : {24.0, 30.0, 48.0, 60.0, 120.0}) {
        if (r >= base - 0.1 && r <= base) {
            return 1001.0 / (base * 1000.0);
        }
        if (r > base && r <= base + 0.1) {
            return 1.0 / base;
        }
    }
    for (const double base : {25.0, 50.0}) {
        if (r >= base - 0.1 && r <= base + 0.1) {
            return 1.0 / base;
        }
    }
    return platform::media::MediaTime::seconds(1.0 / r);
}

}  // namespace kestio
