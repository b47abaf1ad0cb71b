#include "platform/audio/silent_frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace kestio::test {
namespace {

using platform::audio::silentFrames;

// Two channels of eight frames; one sample set to a value, the rest zero.
struct Case {
    const char* name;
    uint32_t channel;
    uint32_t frame;
    float value;
    uint32_t framesLooked;
    bool silent;
};

TEST(SilentFrames, IsSilentOnlyWhenEverySampleLookedAtIsZero) {
    const Case cases[] = {
        {"all zeros", 0, 0, 0.0f, 8, true},
        {"negative zero", 1, 3, -0.0f, 8, true},
        {"the smallest denormal", 0, 7, std::numeric_limits<float>::denorm_min(), 8, false},
        {"a sample in the last channel", 1, 5, 0.001f, 8, false},
        {"a negative sample at the first frame", 0, 0, -1.0f, 8, false},
        {"not a number", 1, 2, std::numeric_limits<float>::quiet_NaN(), 8, false},
        {"a sample past the frames looked at", 1, 6, 0.5f, 6, true},
        {"a sample at the last frame looked at", 1, 5, 0.5f, 6, false},
        {"no frames", 0, 0, 0.5f, 0, true},
    };
    for (const auto& c : cases) {
        std::vector<std::vector<float>> planes(2, std::vector<float>(8, 0.0f));
        planes[c.channel][c.frame] = c.value;
        const float* channels[] = {planes[0].data(), planes[1].data()};
        EXPECT_EQ(silentFrames(channels, 2, c.framesLooked), c.silent) << c.name;
    }
}

}  // namespace
}  // namespace kestio::test
