// The timelines pictures follow: an item's clock through a rate change asked for ahead, and the
// sound clock's reading of where the sound heard is against its plan.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/media/item_clock.h"
#include "platform/media/sound_clock.h"

namespace kestio::platform::media {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// An item clock from plain seconds: the anchor's item and clock times, the rate, and the change's
// clock time and rate.
constexpr ItemClock itemClock(double item, double clock, double rate, double changeClock,
                              double changeRate) {
    return {ItemTime(item), ClockTime(clock), rate, ClockTime(changeClock), changeRate};
}

// Standing at 2 until clock 10, then at rate 1 until 12, then at 1.5.
constexpr ItemClock kChanging = itemClock(2.0, 10.0, 1.0, 12.0, 1.5);

TEST(ItemClock, KeepsItsRateUntilTheChangeAndTheNewOneAfter) {
    struct Case {
        double clock;
        double item;
    };
    for (const Case c : {Case{9.0, 2.0}, Case{10.0, 2.0}, Case{11.0, 3.0}, Case{12.0, 4.0},
                         Case{13.0, 5.5}, Case{14.0, 7.0}}) {
        EXPECT_DOUBLE_EQ(kChanging.at(ClockTime(c.clock)).seconds(), c.item) << "clock " << c.clock;
        if (c.item > 2.0) {
            EXPECT_DOUBLE_EQ(kChanging.clockOf(ItemTime(c.item)).seconds(), c.clock)
                << "item " << c.item;
        }
    }
}

TEST(ItemClock, AStartOrAPauseAtALaterClockTime) {
    const ItemClock starting = itemClock(1.0, 5.0, 0.0, 8.0, 2.0);  // paused, starts at 8
    EXPECT_TRUE(starting.moves());
    EXPECT_DOUBLE_EQ(starting.at(ClockTime(7.9)).seconds(), 1.0);
    EXPECT_DOUBLE_EQ(starting.at(ClockTime(9.0)).seconds(), 3.0);
    EXPECT_DOUBLE_EQ(starting.clockOf(ItemTime(3.0)).seconds(), 9.0);
    const ItemClock pausing = itemClock(1.0, 5.0, 1.0, 8.0, 0.0);  // plays, pauses at 8
    EXPECT_DOUBLE_EQ(pausing.at(ClockTime(20.0)).seconds(), 4.0);
    EXPECT_DOUBLE_EQ(pausing.clockOf(ItemTime(3.5)).seconds(), 7.5);
    EXPECT_EQ(pausing.clockOf(ItemTime(4.5)), ClockTime(kInf)) << "never reached";
    EXPECT_FALSE(itemClock(1.0, 5.0, 0.0, kInf, 0.0).moves());
}

// Starts at clock 1, at rate 1; from clock 3 at 1.5; held from clock 5 to 6; then at 1.
const SoundClock::Plan kPlan{{ClockTime(1.0), 0.0, 1.0},
                             {ClockTime(3.0), 2.0, 1.5},
                             {ClockTime(5.0), 5.0, 0.0},
                             {ClockTime(6.0), 5.0, 1.0}};

TEST(SoundClock, ThePlanSaysWhereTheScheduleIsAtAClockTime) {
    struct Case {
        double clock;
        double schedule;
    };
    for (const Case c : {Case{0.0, 0.0}, Case{1.0, 0.0}, Case{2.0, 1.0}, Case{4.0, 3.5},
                         Case{5.5, 5.0}, Case{7.0, 6.0}}) {
        EXPECT_DOUBLE_EQ(SoundClock::scheduleAt(kPlan, ClockTime(c.clock)), c.schedule)
            << "clock " << c.clock;
    }
}

TEST(SoundClock, ReadsTheTimeTheSoundHeardWasDue) {
    struct Case {
        double heard;
        double clock;
        double due;
        const char* what;
    };
    for (const Case c : {
             Case{1.0, 2.0, 2.0, "on time"},
             Case{0.0, 2.0, 1.0, "started, nothing heard yet: held at the start"},
             Case{0.0, 0.5, 0.5, "before the start"},
             Case{0.8, 2.0, 1.8, "200 ms late"},
             Case{2.0, 3.5, 3.0, "late across a change of pace"},
             Case{5.0, 5.7, 5.7, "held as planned"},
             Case{5.0, 6.5, 6.0, "held for longer than planned"},
             Case{4.25, 3.5, 4.5, "ahead of the plan"},
         }) {
        EXPECT_NEAR(SoundClock::clockOf(kPlan, c.heard, ClockTime(c.clock)).seconds(), c.due, 1e-12)
            << c.what;
    }
    EXPECT_EQ(SoundClock::clockOf({}, 3.0, ClockTime(7.0)), ClockTime(7.0))
        << "no plan: the engine clock";
}

}  // namespace
}  // namespace kestio::platform::media
