#include "model/model_enums.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <unordered_set>

namespace kestio {
namespace {

template <typename E>
void expectEveryCaseRoundTrips() {
    for (const auto& [value, raw] : EnumTraits<E>::entries) {
        EXPECT_EQ(rawValue(value), raw);
        EXPECT_EQ(fromRawValue<E>(raw), value) << raw;
    }
}

TEST(ModelEnums, RawValuesAreTheStoredStrings) {
    EXPECT_EQ(rawValue(MediaType::still), "still");
    EXPECT_EQ(rawValue(PostRollMode::black), "black");
    EXPECT_EQ(rawValue(TransitionMode::dissolve), "dissolve");
    EXPECT_EQ(rawValue(GeometryMode::originalSize), "originalSize");
    EXPECT_EQ(rawValue(OutputResolution::hd720p), "1280x720p");
    EXPECT_EQ(rawValue(OutputResolution::hd1080i), "1920x1080i");
    EXPECT_EQ(rawValue(OutputResolution::uhd2160p), "3840x2160p");
    EXPECT_EQ(rawValue(OutputFrameRate::fps23_976), "23.976");
    EXPECT_EQ(rawValue(OutputFrameRate::fps59_94), "59.94");
    EXPECT_EQ(rawValue(OutputFrameRate::fps60), "60");
}

TEST(ModelEnums, EveryCaseRoundTripsThroughItsRawValue) {
    expectEveryCaseRoundTrips<MediaType>();
    expectEveryCaseRoundTrips<PostRollMode>();
    expectEveryCaseRoundTrips<TransitionMode>();
    expectEveryCaseRoundTrips<GeometryMode>();
    expectEveryCaseRoundTrips<OutputResolution>();
    expectEveryCaseRoundTrips<OutputFrameRate>();
}

TEST(ModelEnums, ParsingIsExactAndCaseSensitive) {
    EXPECT_FALSE(fromRawValue<TransitionMode>("Cut"));
    EXPECT_FALSE(fromRawValue<PostRollMode>("freeze "));
    EXPECT_FALSE(fromRawValue<PostRollMode>(""));
    EXPECT_FALSE(fromRawValue<OutputResolution>("hd1080p"));
    EXPECT_EQ(fromRawValue<OutputResolution>("1920x1080p"), OutputResolution::hd1080p);
    EXPECT_EQ(fromRawValue<OutputFrameRate>("29.97"), OutputFrameRate::fps29_97);
    EXPECT_FALSE(fromRawValue<OutputFrameRate>("29.970"));
    EXPECT_FALSE(fromRawValue<OutputFrameRate>("30.0"));
    EXPECT_FALSE(fromRawValue<MediaType>("movie"));
    EXPECT_FALSE(fromRawValue<MediaType>(std::string("video\0", 6)));
}

TEST(ModelEnums, StoredGeometryModeFallsBackToFitToWindow) {
    EXPECT_EQ(geometryModeFromStoredString("custom"), GeometryMode::custom);
    EXPECT_EQ(geometryModeFromStoredString("originalSize"), GeometryMode::originalSize);
    EXPECT_EQ(geometryModeFromStoredString("fitToWindow"), GeometryMode::fitToWindow);
    EXPECT_EQ(geometryModeFromStoredString(""), GeometryMode::fitToWindow);
    EXPECT_EQ(geometryModeFromStoredString("CUSTOM"), GeometryMode::fitToWindow);
    EXPECT_EQ(geometryModeFromStoredString("custom "), GeometryMode::fitToWindow);
    // The strict parse stays strict for geometry too.
    EXPECT_FALSE(fromRawValue<GeometryMode>("CUSTOM"));
}

TEST(ModelEnums, AllCasesFollowDeclarationOrder) {
    using P = PostRollMode;
    EXPECT_EQ(allCases<PostRollMode>(),
              (std::array{P::next, P::freeze, P::loop, P::black, P::jump}));
    EXPECT_EQ(allCases<GeometryMode>(), (std::array{GeometryMode::fitToWindow, GeometryMode::custom,
                                                    GeometryMode::originalSize}));
    EXPECT_EQ(allCases<TransitionMode>().size(), 2u);
    EXPECT_EQ(allCases<OutputResolution>().size(), 4u);
    EXPECT_EQ(allCases<OutputFrameRate>().front(), OutputFrameRate::fps23_976);
    EXPECT_EQ(allCases<OutputFrameRate>().back(), OutputFrameRate::fps60);
}

TEST(ModelEnums, CasesHashLikeTheirRawStrings) {
    EXPECT_EQ(std::hash<OutputResolution>{}(OutputResolution::hd1080p),
              std::hash<std::string_view>{}("1920x1080p"));
    EXPECT_EQ(std::hash<MediaType>{}(MediaType::audio), std::hash<std::string_view>{}("audio"));

    constexpr auto cases = allCases<OutputFrameRate>();
    const std::unordered_set<OutputFrameRate> rates(cases.begin(), cases.end());
    EXPECT_EQ(rates.size(), 6u);
    EXPECT_TRUE(rates.contains(OutputFrameRate::fps29_97));
}

}  // namespace
}  // namespace kestio
