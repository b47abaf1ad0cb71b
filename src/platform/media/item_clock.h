#pragma once

#include <algorithm>
#include <limits>

namespace kestio::platform::media {

// Item time as a function of the time of the media clock pictures follow: standing at
// anchorItem until anchorClock, then running at `rate` until changeClock, and at changeRate
// from there (a rate change asked for ahead of its clock time: both sides of it keep their own
// rate). Without a change pending, changeClock is +infinity.
struct ItemClock {
    double anchorItem = 0.0;
    double anchorClock = 0.0;
    double rate = 0.0;
    double changeClock = std::numeric_limits<double>::infinity();
    double changeRate = 0.0;

    double at(double clockTime) const {
        const double until = std::min(clockTime, changeClock);
        double t = anchorItem + rate * std::max(0.0, until - anchorClock);
        if (clockTime > changeClock) {
            t += changeRate * (clockTime - std::max(changeClock, anchorClock));
        }
        return t;
    }
    // True while the time moves now or will move without another change.
    bool moves() const {
        return rate > 0.0 ||
               (changeRate > 0.0 && changeClock < std::numeric_limits<double>::infinity());
    }
    // The clock time at which the time reaches `itemTime` (+infinity while it does not move; the
    // anchor when it is there already).
    double clockOf(double itemTime) const {
        if (!moves()) {
            return std::numeric_limits<double>::infinity();
        }
        if (itemTime <= anchorItem) {
            return anchorClock;
        }
        if (rate > 0.0) {
            const double c = anchorClock + (itemTime - anchorItem) / rate;
            if (c <= changeClock) {
                return c;
            }
        }
        if (changeClock == std::numeric_limits<double>::infinity() || changeRate <= 0.0) {
            return std::numeric_limits<double>::infinity();
        }
        const double atChange = at(changeClock);
        return std::max(changeClock, anchorClock) + std::max(0.0, itemTime - atChange) / changeRate;
    }
};

}  // namespace kestio::platform::media
