#pragma once

// What a repeating timer does when the loop's thread is busy: one table for both run loops, so
// that virtual time in tests shows what the application does.

#include <ostream>
#include <vector>

namespace kestio::platform::test {

struct StallCase {
    const char* what;
    int stallingTick;           // the tick (counted from 1) that makes the loop busy; 0 for none
    double stallPeriods;        // for how long, in periods
    bool posted;                // the busy work is posted by the tick rather than the tick itself
    std::vector<double> ticks;  // when the first ticks run, in periods from the start
};

inline void PrintTo(const StallCase& item, std::ostream* out) {
    *out << item.what;
}

inline std::vector<StallCase> stallCases() {
    return {
        {"idle loop", 0, 0.0, false, {1, 2, 3, 4}},
        // Ticks 2, 3 and 4 are missed: one late call, then back in phase.
        {"a tick busy for 3.5 periods", 1, 3.5, false, {1, 4.5, 5, 6}},
        {"work a tick posts busy for 3.5 periods", 1, 3.5, true, {1, 4.5, 5, 6}},
        {"a tick busy for 1.3 periods", 2, 1.3, false, {1, 2, 3.3, 4}},
    };
}

}  // namespace kestio::platform::test
