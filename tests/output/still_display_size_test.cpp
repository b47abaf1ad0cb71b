// The box a still is decoded for: what the output draws it into, for each geometry.

#include "output/still_display_size.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace kestio::output {
namespace {

GeometrySettings geometry(GeometryMode mode, double scaleX = 100.0, double scaleY = 100.0) {
    GeometrySettings g;
    g.mode = mode;
    g.scaleX = scaleX;
    g.scaleY = scaleY;
    return g;
}

TEST(StillDisplaySize, IsTheBoxTheOutputDrawsTheStillInto) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::string what;
        GeometrySettings geometry;
        platform::SizeF canvas;
        QSize expected;
    };
    const std::vector<Case> cases = {
        {"fitted to 1080p", geometry(GeometryMode::fitToWindow), {1920, 1080}, {1920, 1080}},
        {"fitted to 2160p", geometry(GeometryMode::fitToWindow), {3840, 2160}, {3840, 2160}},
        {"custom at half", geometry(GeometryMode::custom, 50, 50), {1920, 1080}, {960, 540}},
        {"custom stretched", geometry(GeometryMode::custom, 300, 25), {1280, 720}, {3840, 180}},
        {"custom mirrored", geometry(GeometryMode::custom, -100, 100), {1920, 1080}, {1920, 1080}},
        {"custom of a fraction",
         geometry(GeometryMode::custom, 33.3, 33.3),
         {1920, 1080},
         {640, 360}},
        // Nothing is drawn: decoded as for the canvas, never at the file's own size.
        {"custom of no area", geometry(GeometryMode::custom, 0, 100), {1920, 1080}, {1920, 1080}},
        {"custom not a number",
         geometry(GeometryMode::custom, nan, 100),
         {1920, 1080},
         {1920, 1080}},
        {"custom beyond any side",
         geometry(GeometryMode::custom, inf, inf),
         {1920, 1080},
         {32768, 32768}},
        {"at its original size", geometry(GeometryMode::originalSize), {1920, 1080}, {}},
        {"on a canvas of no area", geometry(GeometryMode::fitToWindow), {0, 0}, {1920, 1080}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stillDisplaySize(c.geometry, c.canvas), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace kestio::output
