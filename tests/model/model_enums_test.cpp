#include "model/model_enums.h"

#include <gtest/gtest.h>

namespace kestio {
namespace {

TEST(ModelEnums, Placeholder) {
    EXPECT_EQ(rawValue(OutputResolution::hd1080p), "1920x1080p");
}

}  // namespace
}  // namespace kestio
