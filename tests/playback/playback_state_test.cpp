#include <gtest/gtest.h>

#include "playback/frame_duration.h"

namespace kestio {
namespace {

TEST(FrameDuration, UnknownRateIsAThirtieth) {
    EXPECT_DOUBLE_EQ(frameDuration(std::nullopt), 1.0 / 30.0);
}

}  // namespace
}  // namespace kestio
