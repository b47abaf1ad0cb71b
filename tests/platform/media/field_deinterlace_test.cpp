#include "platform/media/field_deinterlace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/media/video_decoder.h"
#include "support/process_runner.h"

namespace kestio::platform::media {
namespace {

namespace fs = std::filesystem;

// How much rows differ from their neighbours, against how much they differ from the rows two
// further: about 1 for a whole picture, well above it where two fields do not fit together.
template <typename Row>
double combing(int width, int height, Row row) {
    double next = 0.0;
    double second = 0.0;
    for (int y = 0; y + 2 < height; ++y) {
        for (int x = 0; x < width; ++x) {
            next += std::abs(int(row(y)[x]) - int(row(y + 1)[x]));
            second += std::abs(int(row(y)[x]) - int(row(y + 2)[x]));
        }
    }
    return next / std::max(second, 1.0);
}

struct PlaneCase {
    const char* name;
    std::vector<int> rows;  // one value per row, the same across it
    bool keepEven;
    int sampleBytes;
    int threshold;
    std::vector<int> expected;
};

class DeinterlacedPlanes : public testing::TestWithParam<PlaneCase> {};

TEST_P(DeinterlacedPlanes, MendTheCombAndKeepWhatFits) {
    const PlaneCase& c = GetParam();
    constexpr int kWidth = 5;
    const int rows = static_cast<int>(c.rows.size());
    const std::ptrdiff_t stride = kWidth * c.sampleBytes + 3;
    std::vector<std::uint8_t> in(static_cast<std::size_t>(stride * rows));
    std::vector<std::uint8_t> out(in.size(), 0xEE);
    auto at = [&](std::vector<std::uint8_t>& plane, int y, int x) -> std::uint8_t* {
        return plane.data() + y * stride + x * c.sampleBytes;
    };
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const auto v = static_cast<std::uint16_t>(c.rows[static_cast<std::size_t>(y)]);
            std::memcpy(at(in, y, x), &v, static_cast<std::size_t>(c.sampleBytes));
        }
    }
    deinterlacePlane(in.data(), stride, out.data(), stride, kWidth, rows, c.sampleBytes, c.keepEven,
                     c.threshold);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            std::uint16_t v = 0;
            std::memcpy(&v, at(out, y, x), static_cast<std::size_t>(c.sampleBytes));
            EXPECT_EQ(v, c.expected[static_cast<std::size_t>(y)]) << "row " << y << " column " << x;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Field, DeinterlacedPlanes,
    testing::Values(
        PlaneCase{"CombTopFirst", {40, 200, 40, 200, 40}, true, 1, 9, {40, 40, 40, 40, 40}},
        PlaneCase{"CombBottomFirst", {40, 200, 40, 200}, false, 1, 9, {200, 200, 200, 200}},
        PlaneCase{"GradientKept", {10, 30, 50, 70, 90}, true, 1, 9, {10, 30, 50, 70, 90}},
        PlaneCase{"EdgeRowTakesItsNeighbour", {10, 30, 50, 70}, true, 1, 9, {10, 30, 50, 50}},
        PlaneCase{"NoiseKept", {100, 108, 100, 92, 100}, true, 1, 9, {100, 108, 100, 92, 100}},
        PlaneCase{"TenBitComb", {160, 800, 160, 800, 160}, true, 2, 36, {160, 160, 160, 160, 160}}),
    [](const auto& param) { return std::string(param.param.name); });

// Moving pictures (a test pattern scrolling sideways), coded as 1080i fields or as progressive
// pictures.
fs::path movingClip(const std::string& name, const std::vector<std::string>& coding) {
    const fs::path folder = fs::path(KESTIO_FIXTURE_DIR) / "deinterlace";
    fs::create_directories(folder);
    const fs::path path = folder / name;
    if (fs::exists(path)) {
        return path;
    }
    const fs::path partial = folder / ("partial_" + name);
    const std::string source = "testsrc2=size=1920x1080:rate=50,scroll=horizontal=0.02";
    std::vector<std::string> argv = {"ffmpeg",    "-nostdin", "-y",
                                     "-loglevel", "error",    "-f",
                                     "lavfi",     "-i",       source + coding.front(),
                                     "-frames:v", "4",        "-c:v",
                                     "libx264",   "-pix_fmt", "yuv420p"};
    argv.insert(argv.end(), coding.begin() + 1, coding.end());
    argv.push_back(partial.string());
    const auto result = kestio::test::runProcess(argv, std::chrono::minutes(2));
    if (!result.succeeded()) {
        ADD_FAILURE() << kestio::test::describeFailure(argv, result);
        return {};
    }
    fs::rename(partial, path);
    return path;
}

struct ClipCase {
    const char* name;
    std::vector<std::string> coding;  // the filter's tail, then the encoder's options
    bool interlaced;
};

class DecodedFields : public testing::TestWithParam<ClipCase> {};

// The pictures a clip plays, against the frames its decoder gave: interlaced ones lose their
// comb, progressive ones are the very frames.
TEST_P(DecodedFields, AreShownWhole) {
    const ClipCase& c = GetParam();
    const fs::path clip = movingClip(std::string(c.name) + ".mp4", c.coding);
    auto decoder = VideoDecoder::open(clip, std::make_shared<ffmpeg::IoControl>(), {.threads = 1});
    ASSERT_TRUE(decoder) << decoder.error();
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ((*decoder)->decodeNext(frame.get()), VideoDecoder::Step::Frame);
        SCOPED_TRACE("picture " + std::to_string(i));
        EXPECT_EQ(isInterlaced(*frame), c.interlaced);
        const Picture picture = (*decoder)->toPicture(*frame, true);
        const YuvPicture* yuv = picture.yuv();
        ASSERT_NE(yuv, nullptr);
        ASSERT_EQ(yuv->width, frame->width);
        const double before = combing(frame->width, frame->height, [&](int y) {
            return frame->data[0] + y * frame->linesize[0];
        });
        const double after = combing(yuv->width, yuv->height,
                                     [&](int y) { return yuv->planes[0] + y * yuv->strides[0]; });
        if (c.interlaced) {
            EXPECT_GT(before, 1.5);
            EXPECT_LT(after, 1.1);
        } else {
            EXPECT_LT(before, 1.1);
            for (int y = 0; y < frame->height; ++y) {
                ASSERT_EQ(std::memcmp(frame->data[0] + y * frame->linesize[0],
                                      yuv->planes[0] + y * yuv->strides[0],
                                      static_cast<std::size_t>(frame->width)),
                          0)
                    << "row " << y;
            }
        }
        av_frame_unref(frame.get());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clip, DecodedFields,
    testing::Values(ClipCase{"TopFieldFirst",
                             {",tinterlace=mode=interleave_top,setfield=tff", "-flags",
                              "+ildct+ilme", "-x264-params", "tff=1"},
                             true},
                    ClipCase{"BottomFieldFirst",
                             {",tinterlace=mode=interleave_bottom,setfield=bff", "-flags",
                              "+ildct+ilme", "-x264-params", "bff=1"},
                             true},
                    ClipCase{"Progressive", {""}, false}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestio::platform::media
