#include "platform/runloop/time_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <type_traits>

namespace kestio::platform {
namespace {

// Nothing crosses clocks or leaves seconds behind by itself: a time is made from seconds on
// purpose, and taken to another clock only through a MediaClock.
template <class A, class B>
concept Comparable = requires(A a, B b) {
    a < b;
};
template <class A, class B>
concept Subtractable = requires(A a, B b) {
    a - b;
};

static_assert(!std::is_convertible_v<double, HostTime>);
static_assert(!std::is_convertible_v<HostTime, double>);
static_assert(!std::is_convertible_v<HostTime, ClockTime>);
static_assert(!std::is_convertible_v<ClockTime, ItemTime>);
static_assert(!std::is_constructible_v<ClockTime, HostTime>);
static_assert(!std::is_constructible_v<ItemTime, ClockTime>);
static_assert(!Comparable<HostTime, ClockTime>);
static_assert(!Comparable<ClockTime, double>);
static_assert(!Subtractable<ClockTime, HostTime>);
static_assert(!Subtractable<double, ItemTime>);
static_assert(std::is_same_v<decltype(HostTime() - HostTime()), double>);
static_assert(std::is_same_v<decltype(ClockTime() + 1.0), ClockTime>);
static_assert(std::is_same_v<decltype(1.0 + ItemTime()), ItemTime>);
static_assert(std::is_trivially_copyable_v<HostTime>);

TEST(TimeTypes, DifferencesAreSecondsAndSecondsMoveATimeOnItsClock) {
    const ClockTime start(7.25);
    ClockTime later = start + 0.5;
    EXPECT_EQ(later, ClockTime(7.75));
    EXPECT_DOUBLE_EQ(later - start, 0.5);
    EXPECT_DOUBLE_EQ(start - later, -0.5);
    later -= 0.25;
    EXPECT_EQ(later, ClockTime(7.5));
    later += 1.0;
    EXPECT_EQ(later - 1.0, ClockTime(7.5));
    EXPECT_EQ(0.5 + start, ClockTime(7.75));
}

TEST(TimeTypes, TimesOnOneClockOrderAndNeverReachInfinity) {
    const HostTime a(1.0);
    const HostTime b(2.0);
    EXPECT_LT(a, b);
    EXPECT_GE(b, a);
    EXPECT_NE(a, b);
    EXPECT_EQ(std::max(a, b), b);
    EXPECT_EQ(std::min(a, b), a);
    EXPECT_LT(HostTime(1e300), HostTime::infinity());
    EXPECT_FALSE(HostTime::infinity().isFinite());
    EXPECT_TRUE(a.isFinite());
    EXPECT_EQ(HostTime(), HostTime(0.0));
}

TEST(TimeTypes, PrintWithTheirClock) {
    std::ostringstream out;
    out << HostTime(1.5) << ", " << ClockTime(2.0) << ", " << ItemTime(0.25);
    EXPECT_EQ(out.str(), "1.5 s (host), 2 s (clock), 0.25 s (item)");
}

}  // namespace
}  // namespace kestio::platform
