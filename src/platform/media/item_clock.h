#pragma once

#include <algorithm>

#include "platform/runloop/time_types.h"

namespace kestio::platform::media {

// Item time as a function of the time of the media clock pictures follow: standing at
// anchorItem until anchorClock, then running at `rate` until changeClock, and at changeRate
// from there (a rate change asked for ahead of its clock time: both sides of it keep their own
// rate). Without a change pending, changeClock is +infinity.
struct ItemClock {
    ItemTime anchorItem{};
    ClockTime anchorClock{};
    double rate = 0.0;
    ClockTime changeClock = ClockTime::infinity();
    double changeRate = 0.0;

    ItemTime at(ClockTime clockTime) const {
        const ClockTime until = std::min(clockTime, changeClock);
        ItemTime t = anchorItem + rate * std::max(0.0, until - anchorClock);
        if (clockTime > changeClock) {
            t += changeRate * (clockTime - std::max(changeClock, anchorClock));
        }
        return t;
    }
    // True while the time moves now or will move without another change.
    bool moves() const {
        return rate > 0.0 || (changeRate > 0.0 && changeClock < ClockTime::infinity());
    }
    // The clock time at which the time reaches `itemTime` (+infinity while it does not move; the
    // anchor when it is there already).
    ClockTime clockOf(ItemTime itemTime) const {
        if (!moves()) {
            return ClockTime::infinity();
        }
        if (itemTime <= anchorItem) {
            return anchorClock;
        }
        if (rate > 0.0) {
            const ClockTime c = anchorClock + (itemTime - anchorItem) / rate;
            if (c <= changeClock) {
                return c;
            }
        }
        if (changeClock == ClockTime::infinity() || changeRate <= 0.0) {
            return ClockTime::infinity();
        }
        const ItemTime atChange = at(changeClock);
        return std::max(changeClock, anchorClock) + std::max(0.0, itemTime - atChange) / changeRate;
    }
};

}  // namespace kestio::platform::media
