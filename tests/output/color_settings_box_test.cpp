#include "output/color_settings_box.h"

#include <gtest/gtest.h>

namespace kestio::output {
namespace {

TEST(ColorSettingsBoxTest, StartsAtTheIdentityAndKeepsEachSetWhole) {
    ColorSettingsBox box;
    EXPECT_EQ(box.value(), ColorSettings{});

    const auto before = box.snapshot();
    ColorSettings changed;
    changed.saturation = 0;
    changed.redGain = 1.5f;
    box.setValue(changed);

    EXPECT_EQ(box.value(), changed);
    EXPECT_EQ(*before, ColorSettings{}) << "a reader's set stays as it was taken";
}

}  // namespace
}  // namespace kestio::output
