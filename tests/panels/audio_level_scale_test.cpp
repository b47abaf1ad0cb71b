#include "panels/audio_level_scale.h"

#include <gtest/gtest.h>

namespace kestio::panels {
namespace {

// Positions worked out by hand from the breakpoints (-40 → 0, -20 → 0.3, 0 → 0.75, +12 → 1).
TEST(Fader, CurvePlacesTheBreakpointsAndWhatLiesBetween) {
    struct Case {
        double level, position;
    };
    const Case cases[] = {{-40, 0.0}, {-30, 0.15}, {-20, 0.3}, {-10, 0.525},
                          {0, 0.75},  {6, 0.875},  {12, 1.0},  {-0.5, 0.73875}};
    for (const auto& c : cases) {
        EXPECT_NEAR(faderPosition(c.level), c.position, 1e-12) << c.level;
        EXPECT_NEAR(faderLevel(c.position), c.level, 1e-9) << c.position;
    }
    for (double level = -40.0; level <= 12.0; level += 0.25) {
        EXPECT_NEAR(faderLevel(faderPosition(level)), level, 1e-9);
    }
}

TEST(VuMeter, MeterCurveIsClampedToTheScale) {
    struct Case {
        float level, position;
    };
    const Case cases[] = {{-100.0f, 0.0f}, {-40.0f, 0.0f}, {-39.9f, 0.0015f}, {-20.0f, 0.3f},
                          {0.0f, 0.75f},   {12.0f, 1.0f},  {12.5f, 1.0f},     {-6.0f, 0.615f}};
    for (const auto& c : cases) {
        EXPECT_NEAR(meterPosition(c.level), c.position, 1e-5) << c.level;
    }
}

TEST(VuScale, TravelLeaves26PointsAtEachEnd) {
    // A 215-point column: travel 163 from y 26 (top of the scale) to y 189 (bottom).
    EXPECT_DOUBLE_EQ(travelY(215, 1.0), 26.0);
    EXPECT_DOUBLE_EQ(travelY(215, 0.0), 189.0);
    EXPECT_DOUBLE_EQ(travelY(215, 0.75), 66.75);
}

}  // namespace
}  // namespace kestio::panels
