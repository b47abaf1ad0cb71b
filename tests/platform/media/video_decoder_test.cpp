#include "platform/media/video_decoder.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/graphics/worker_pool.h"
#include "platform/runloop/usable_cores.h"
#include "support/allowed_cpus.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

namespace kestio::platform::media {
namespace {

namespace fs = std::filesystem;

// A short clip made with the ffmpeg command into the fixture folder unless it is there.
fs::path makeClip(const std::string& name, const std::vector<std::string>& encoding,
                  const std::string& size, const std::string& filter) {
    const fs::path folder = fs::path(KESTIO_FIXTURE_DIR) / "video-decoder";
    fs::create_directories(folder);
    const fs::path path = folder / name;
    if (fs::exists(path)) {
        return path;
    }
    const fs::path partial = folder / ("partial_" + name);
    std::vector<std::string> argv = {"ffmpeg",    "-nostdin", "-y",
                                     "-loglevel", "error",    "-f",
                                     "lavfi",     "-i",       "testsrc2=size=" + size + ":rate=25",
                                     "-frames:v", "2",        "-vf",
                                     filter};
    argv.insert(argv.end(), encoding.begin(), encoding.end());
    argv.push_back(partial.string());
    const auto result = kestio::test::runProcess(argv, std::chrono::minutes(2));
    if (!result.succeeded()) {
        ADD_FAILURE() << kestio::test::describeFailure(argv, result);
        return {};
    }
    fs::rename(partial, path);
    return path;
}

// The first picture of the file, converted with `pool` (fitted into `fit` when valid).
QImage firstPicture(const fs::path& path, WorkerPool& pool, QSize fit) {
    auto decoder = VideoDecoder::open(path, std::make_shared<ffmpeg::IoControl>(),
                                      {.threads = 1, .conversionPool = &pool});
    if (!decoder) {
        ADD_FAILURE() << decoder.error();
        return {};
    }
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    if ((*decoder)->decodeNext(frame.get()) != VideoDecoder::Step::Frame) {
        ADD_FAILURE() << "no picture in " << path;
        return {};
    }
    return (*decoder)->toImage(*frame, true, fit);
}

struct BandCase {
    const char* pixelFormat;
    const char* size;
    // Lossless: FFV1 in Matroska, or raw pictures in AVI for what FFV1 does not store.
    bool raw = false;
    QSize fit;
};

class PictureBands : public testing::TestWithParam<BandCase> {};

// Converting in bands of rows on several threads gives the very picture a single pass gives:
// each band lands on its own rows, and the seams between bands leave no trace (the scaler
// blends neighbouring rows where chroma rows are shared, or the picture is resized, and
// dithers deep colour by row). The pictures are noisy so that a band shifted by a row, or a
// seam made differently, shows.
TEST_P(PictureBands, GiveThePictureOfOnePass) {
    const BandCase& c = GetParam();
    const fs::path clip =
        makeClip(std::string("bands_") + c.pixelFormat + "_" + c.size + (c.raw ? ".avi" : ".mkv"),
                 {"-c:v", c.raw ? "rawvideo" : "ffv1"}, c.size,
                 std::string("noise=alls=40:allf=t,format=") + c.pixelFormat);
    ASSERT_FALSE(clip.empty());
    WorkerPool alone(0);
    WorkerPool shared(3);
    // Banded first: memory freed by a conversion already done could hold rows a band missed.
    const QImage banded = firstPicture(clip, shared, c.fit);
    const QImage whole = firstPicture(clip, alone, c.fit);
    ASSERT_FALSE(whole.isNull());
    ASSERT_EQ(banded.size(), whole.size());
    ASSERT_EQ(banded.format(), whole.format());
    int differing = 0;
    int firstRow = -1;
    for (int y = 0; y < whole.height(); ++y) {
        if (std::memcmp(whole.constScanLine(y), banded.constScanLine(y),
                        static_cast<std::size_t>(whole.width()) * 4) != 0) {
            ++differing;
            firstRow = firstRow < 0 ? y : firstRow;
        }
    }
    EXPECT_EQ(differing, 0) << "rows differ, the first at " << firstRow;
}

INSTANTIATE_TEST_SUITE_P(
    PixelFormats, PictureBands,
    testing::Values(
        BandCase{"yuv422p10le", "640x360", false, {}},
        BandCase{"yuv422p10le", "1920x1080", false, {}}, BandCase{"yuv422p", "642x363", false, {}},
        BandCase{"yuva444p10le", "640x360", false, {}}, BandCase{"yuv444p", "640x360", false, {}},
        BandCase{"gbrp", "640x360", false, {}}, BandCase{"bgr24", "640x360", true, {}},
        BandCase{"gray", "640x360", false, {}}, BandCase{"yuv420p", "640x362", false, {}},
        BandCase{"yuv420p10le", "640x360", false, {}}, BandCase{"nv12", "640x360", true, {}},
        BandCase{"yuv410p", "640x364", false, {}}, BandCase{"pal8", "640x360", true, {}},
        BandCase{"yuv420p", "1280x720", false, QSize(700, 400)},
        BandCase{"yuv422p10le", "1024x576", false, QSize(1000, 560)}),
    [](const testing::TestParamInfo<BandCase>& param) {
        std::string name = std::string(param.param.pixelFormat) + "_" + param.param.size;
        if (param.param.fit.isValid()) {
            name += "_fit" + std::to_string(param.param.fit.height());
        }
        for (char& ch : name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) != 0 ? ch : '_';
        }
        return name;
    });

// The first frame of the file as FFmpeg decodes it with its own allocator, one thread: its
// planes packed one after another (empty when it fails).
std::vector<std::uint8_t> referencePlanes(const fs::path& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        return {};
    }
    ffmpeg::FormatPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        return {};
    }
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) {
        return {};
    }
    const AVCodecParameters* par = format->streams[stream]->codecpar;
    ffmpeg::CodecPtr codec(avcodec_alloc_context3(avcodec_find_decoder(par->codec_id)));
    if (!codec || avcodec_parameters_to_context(codec.get(), par) < 0 ||
        avcodec_open2(codec.get(), codec->codec, nullptr) < 0) {
        return {};
    }
    ffmpeg::PacketPtr packet = ffmpeg::makePacket();
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    bool flushing = false;
    while (avcodec_receive_frame(codec.get(), frame.get()) != 0) {
        if (flushing) {
            return {};
        }
        if (av_read_frame(format.get(), packet.get()) < 0) {
            flushing = true;
            avcodec_send_packet(codec.get(), nullptr);
            continue;
        }
        if (packet->stream_index == stream) {
            avcodec_send_packet(codec.get(), packet.get());
        }
        av_packet_unref(packet.get());
    }
    const auto pixels = static_cast<AVPixelFormat>(frame->format);
    std::vector<std::uint8_t> packed(
        static_cast<std::size_t>(av_image_get_buffer_size(pixels, frame->width, frame->height, 1)));
    av_image_copy_to_buffer(packed.data(), static_cast<int>(packed.size()), frame->data,
                            frame->linesize, pixels, frame->width, frame->height, 1);
    return packed;
}

struct LayoutCase {
    const char* name;
    std::vector<std::string> encoding;
    const char* size;
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
    *out << c.name;
}

class DecodedFrames : public testing::TestWithParam<LayoutCase> {};

// Decoded frames live in the decoder's own buffers, laid out for each codec and pixel format as
// FFmpeg lays out its own: the frames decoded with playback threads hold the very planes one
// thread of FFmpeg's own allocation gives (a plane overlapping the next, or rows too short for
// the codec's writes, would show here).
TEST_P(DecodedFrames, HoldThePlanesFfmpegsOwnAllocationGives) {
    const LayoutCase& c = GetParam();
    const fs::path clip =
        makeClip(std::string("layout_") + c.name, c.encoding, c.size, "noise=alls=40:allf=t");
    ASSERT_FALSE(clip.empty());
    const std::vector<std::uint8_t> reference = referencePlanes(clip);
    ASSERT_FALSE(reference.empty());
    auto decoder = VideoDecoder::open(clip, std::make_shared<ffmpeg::IoControl>(),
                                      {.threads = VideoDecoder::kPlaybackThreads});
    ASSERT_TRUE(decoder) << decoder.error();
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    ASSERT_EQ((*decoder)->decodeNext(frame.get()), VideoDecoder::Step::Frame);
    const auto pixels = static_cast<AVPixelFormat>(frame->format);
    std::vector<std::uint8_t> packed(reference.size());
    ASSERT_EQ(av_image_get_buffer_size(pixels, frame->width, frame->height, 1),
              static_cast<int>(reference.size()));
    av_image_copy_to_buffer(packed.data(), static_cast<int>(packed.size()), frame->data,
                            frame->linesize, pixels, frame->width, frame->height, 1);
    EXPECT_TRUE(packed == reference);
    // The picture made from it is whole too (its rows come from the decoder's picture pool).
    const QImage picture = (*decoder)->toImage(*frame, true);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(frame->width, frame->height));
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, DecodedFrames,
    testing::Values(LayoutCase{"h264_420.mp4",
                               {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"},
                               "642x362"},
                    LayoutCase{"h264_444.mp4",
                               {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv444p"},
                               "1920x1080"},
                    LayoutCase{"hevc_420_10.mp4",
                               {"-c:v", "libx265", "-preset", "ultrafast", "-pix_fmt",
                                "yuv420p10le", "-x265-params", "log-level=error"},
                               "650x366"},
                    LayoutCase{"prores_4444.mov",
                               {"-c:v", "prores_ks", "-profile:v", "4", "-pix_fmt", "yuva444p10le"},
                               "640x360"},
                    LayoutCase{"mpeg2_422.mkv",
                               {"-c:v", "mpeg2video", "-pix_fmt", "yuv422p", "-q:v", "2"},
                               "720x576"},
                    LayoutCase{"ffv1_410.mkv", {"-c:v", "ffv1", "-pix_fmt", "yuv410p"}, "641x363"}),
    [](const testing::TestParamInfo<LayoutCase>& param) {
        return std::string(param.param.name).substr(0, std::string(param.param.name).find('.'));
    });

using test::firstAllowedCpus;

struct ThreadCase {
    const char* name;
    std::vector<std::string> encoding;
    // The threads a 2160p picture asks for with CPUs to spare.
    int most;
};

class PlaybackThreads : public testing::TestWithParam<ThreadCase> {};

// A 2160p picture asks for four slice threads, or three frame threads (each of which holds
// pictures of its own) unless more than 30 come a second; a child process narrowed to fewer
// CPUs, as `taskset` would, gets one per CPU it may run on, whatever the machine has.
TEST_P(PlaybackThreads, FollowTheCpusTheProcessMayUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const ThreadCase& c = GetParam();
    const fs::path clip =
        makeClip(std::string("threads_") + c.name, c.encoding, "3840x2160", "null");
    ASSERT_FALSE(clip.empty());
    for (const int cpus : {1, 2, 3, 4, 6}) {
        const cpu_set_t chosen = firstAllowedCpus(cpus);
        if (CPU_COUNT(&chosen) < cpus) {
            continue;  // not enough CPUs on this machine
        }
        EXPECT_EXIT(
            {
                if (sched_setaffinity(0, sizeof chosen, &chosen) != 0 || usableCores() != cpus) {
                    std::_Exit(100);
                }
                auto decoder = VideoDecoder::open(clip, std::make_shared<ffmpeg::IoControl>(),
                                                  {.threads = VideoDecoder::kPlaybackThreads});
                std::_Exit(decoder ? (*decoder)->threadCount() : 101);
            },
            testing::ExitedWithCode(std::min(cpus, c.most)), "")
            << cpus << " CPUs";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, PlaybackThreads,
    testing::Values(
        ThreadCase{"prores.mov", {"-c:v", "prores_ks", "-profile:v", "3"}, 4},
        ThreadCase{
            "h264.mp4", {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"}, 3},
        ThreadCase{"h264_60.mp4",
                   {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-r", "60"},
                   4}),
    [](const testing::TestParamInfo<ThreadCase>& param) {
        return std::string(param.param.name).substr(0, std::string(param.param.name).find('.'));
    });

struct PlayedCase {
    const char* name;
    std::vector<std::string> encoding;
    const char* size;
    std::string filter;
    // Kept as the decoder gave it, to be converted where it is drawn.
    bool keptAsDecoded;
};

void PrintTo(const PlayedCase& c, std::ostream* out) {
    *out << c.name;
}

class PlayedPictures : public testing::TestWithParam<PlayedCase> {};

// A picture to play stays as decoded only where the planes show as they are (8-bit 4:2:0 at
// the coded size); anything else is converted as before. A kept picture, converted where it is
// drawn, shows the colours the decoder's own conversion gives: the matrix and range of the clip
// are the ones its frames state (a wrong matrix or range shifts testsrc2's saturated colours by
// tens of levels). The two conversions differ by their rounding only.
TEST_P(PlayedPictures, StayAsDecodedOnlyWhereTheyShowSoAndConvertToTheSameColours) {
    const PlayedCase& c = GetParam();
    const fs::path clip = makeClip(std::string("played_") + c.name, c.encoding, c.size, c.filter);
    ASSERT_FALSE(clip.empty());
    auto decoder = VideoDecoder::open(clip, std::make_shared<ffmpeg::IoControl>(), {.threads = 1});
    ASSERT_TRUE(decoder) << decoder.error();
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    ASSERT_EQ((*decoder)->decodeNext(frame.get()), VideoDecoder::Step::Frame);
    const QImage converted = (*decoder)->toImage(*frame, true);
    const Picture picture = (*decoder)->toPicture(*frame, true);
    ASSERT_FALSE(picture.isNull());
    ASSERT_EQ(picture.yuv() != nullptr, c.keptAsDecoded);
    EXPECT_EQ(picture.size(), converted.size());
    if (!c.keptAsDecoded) {
        return;
    }
    // The picture holds the frame's planes: they outlive the decoder's own reference.
    av_frame_unref(frame.get());
    const QImage shown = picture.toImage();
    ASSERT_EQ(shown.size(), converted.size());
    int worst = 0;
    double total = 0.0;
    for (int y = 0; y < shown.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(converted.constScanLine(y));
        for (int x = 0; x < shown.width(); ++x) {
            for (const int shift : {0, 8, 16}) {
                const int d = std::abs(int((a[x] >> shift) & 0xff) - int((b[x] >> shift) & 0xff));
                worst = std::max(worst, d);
                total += d;
            }
        }
    }
    EXPECT_LE(worst, 4);
    EXPECT_LE(total / (3.0 * shown.width() * shown.height()), 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PlayedPictures,
    testing::Values(
        PlayedCase{"bt709.mkv",
                   {"-c:v", "ffv1", "-colorspace", "bt709", "-color_range", "tv"},
                   "640x360",
                   "format=yuv420p",
                   true},
        PlayedCase{"bt601_odd.mkv",
                   {"-c:v", "ffv1", "-colorspace", "bt470bg", "-color_range", "tv"},
                   "643x361",
                   "format=yuv420p",
                   true},
        PlayedCase{"unstated_720p.mkv", {"-c:v", "ffv1"}, "1280x720", "format=yuv420p", true},
        PlayedCase{"unstated_576p.mkv", {"-c:v", "ffv1"}, "720x576", "format=yuv420p", true},
        PlayedCase{"full_range.avi",
                   {"-c:v", "mjpeg", "-q:v", "2", "-pix_fmt", "yuvj420p"},
                   "640x360",
                   "format=yuvj420p",
                   true},
        PlayedCase{"h264.mp4",
                   {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"},
                   "642x362",
                   "null",
                   true},
        PlayedCase{"yuv422.mkv", {"-c:v", "ffv1"}, "640x360", "format=yuv422p", false},
        PlayedCase{"yuv420_10.mkv", {"-c:v", "ffv1"}, "640x360", "format=yuv420p10le", false},
        PlayedCase{
            "anamorphic.mkv", {"-c:v", "ffv1"}, "640x360", "format=yuv420p,setsar=4/3", false}),
    [](const testing::TestParamInfo<PlayedCase>& param) {
        return std::string(param.param.name).substr(0, std::string(param.param.name).find('.'));
    });

// A turned clip stays as decoded when it is asked for as coded, and is converted (and turned)
// when it is asked for upright.
TEST(PlayedPictures, OfATurnedClipAreConvertedToBeShownUpright) {
    const auto& rotated = test::mediaFixtures().rotatedClip;
    auto decoder =
        VideoDecoder::open(rotated.path, std::make_shared<ffmpeg::IoControl>(), {.threads = 1});
    ASSERT_TRUE(decoder) << decoder.error();
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    ASSERT_EQ((*decoder)->decodeNext(frame.get()), VideoDecoder::Step::Frame);
    const Picture upright = (*decoder)->toPicture(*frame, true);
    EXPECT_EQ(upright.yuv(), nullptr);
    EXPECT_EQ(upright.size(), (*decoder)->displaySize(true));
    const Picture coded = (*decoder)->toPicture(*frame, false);
    EXPECT_NE(coded.yuv(), nullptr);
    EXPECT_EQ(coded.size(), (*decoder)->displaySize(false));
}

}  // namespace
}  // namespace kestio::platform::media
