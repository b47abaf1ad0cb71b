#include "panels/audio_level_scale.h"

namespace kestio::panels {

double faderPosition(double level) {
    if (level < -20.0) {
        return (level + 40.0) * 0.3 / 20.0;
    }
    if (level < 0.0) {
        return (level + 20.0) * 0.45 / 20.0 + 0.3;
    }
    return level * 0.25 / 12.0 + 0.75;
}

double faderLevel(double position) {
    if (position < 0.3) {
        return position / 0.3 * 20.0 - 40.0;
    }
    if (position < 0.75) {
        return (position - 0.3) / 0.45 * 20.0 - 20.0;
    }
    return (position - 0.75) * 4.0 * 12.0;
}

float meterPosition(float level) {
    if (level <= -40.0f) {
        return 0.0f;
    }
    if (level < -20.0f) {
        return (level + 40.0f) * 0.3f / 20.0f;
    }
    if (level < 0.0f) {
        return (level + 20.0f) * 0.45f / 20.0f + 0.3f;
    }
    if (level <= 12.0f) {
        return level * 0.25f / 12.0f + 0.75f;
    }
    return 1.0f;
}

double travelY(double height, double position) {
    return (height - 2.0 * kTravelInset) * (1.0 - position) + kTravelInset;
}

}  // namespace kestio::panels
