// What an item decoder's queue holds: an item that starts later waits with its first picture,
// the pictures of a short range are shown again at once when the same seek comes back, and a
// seek to where the decoder already stands keeps the pictures queued.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/media/item_decoder.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"
#include "support/process_runner.h"
#include "support/temporary_folder.h"

namespace kestio::platform::media {
namespace {

using kestio::test::mediaFixtures;
using kestio::test::readFrameNumber;
using testing::runUntil;

constexpr double kFrame = 1001.0 / 30000.0;

// A decoder on a manual run loop, noting the seeks that land; its decode thread changes the
// queue without posting, so waits look again every few milliseconds (30 s at most).
struct Decoding {
    explicit Decoding(const std::filesystem::path& path) {
        ItemDecoder::Settings settings;
        settings.endTime = std::numeric_limits<double>::quiet_NaN();
        decoder = std::make_unique<ItemDecoder>(
            path, loop,
            [this](const DecoderEvent& event) {
                loop.post([this, event] {
                    opened = opened || event.kind == DecoderEvent::Kind::Opened;
                    if (event.kind == DecoderEvent::Kind::SeekLanded ||
                        (event.kind == DecoderEvent::Kind::Opened && event.seekId != 0)) {
                        landings.push_back(event);
                    }
                    if (event.kind == DecoderEvent::Kind::Progress) {
                        decoder->progressHandled();
                    }
                });
            },
            settings);
        EXPECT_TRUE(runUntil(loop, [&] { return opened; }));
    }
    bool waitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            loop.waitForPosted(0.005);
        }
        return true;
    }
    bool landed(std::uint64_t id) const {
        return !landings.empty() && landings.back().seekId == id;
    }
    // The frame numbers shown at the middle of frames [first, end).
    std::vector<int> shown(int first, int end) const {
        std::vector<int> numbers;
        for (int n = first; n < end; ++n) {
            numbers.push_back(readFrameNumber(decoder->frameAt((n + 0.5) * kFrame)));
        }
        return numbers;
    }

    ManualRunLoop loop{HostTime(10.0)};
    bool opened = false;
    std::vector<DecoderEvent> landings;
    std::unique_ptr<ItemDecoder> decoder;
};

std::vector<int> frames(int first, int end) {
    std::vector<int> numbers;
    for (int n = first; n < end; ++n) {
        numbers.push_back(n);
    }
    return numbers;
}

// A frame-numbered 1920x1080 clip at 29.97 (one second): its pictures are large enough that an
// item standing holds one of them and a playing one two.
std::filesystem::path largeClip(const kestio::test::TemporaryFolder& folder) {
    const auto path = folder / "large.mp4";
    const std::vector<std::string> argv = {"ffmpeg",
                                           "-nostdin",
                                           "-y",
                                           "-v",
                                           "error",
                                           "-f",
                                           "lavfi",
                                           "-i",
                                           "testsrc2=size=1920x1080:rate=30000/1001",
                                           "-frames:v",
                                           "30",
                                           "-vf",
                                           kestio::test::FrameNumberStrip::ffmpegFilter(),
                                           "-c:v",
                                           "libx264",
                                           "-preset",
                                           "ultrafast",
                                           "-g",
                                           "30",
                                           "-pix_fmt",
                                           "yuv420p",
                                           path.string()};
    const auto result = kestio::test::runProcess(argv, std::chrono::minutes(2));
    EXPECT_TRUE(result.succeeded()) << kestio::test::describeFailure(argv, result);
    return path;
}

// An item stands until a start set ahead on its clock. Queued behind its player's current item
// (a loop's next pass) it holds its first picture only until the start is near (as a paused
// item does), then fills its queue as a playing item, a full queue's time before the start. The
// current item itself decodes ahead at once (a start set ahead is a start asked for).
class ItemDecoderStartAhead : public ::testing::TestWithParam<bool> {};

TEST_P(ItemDecoderStartAhead, QueuedBehindWaitsWithItsFirstPictureUntilTheStartNears) {
    const bool queuedBehind = GetParam();
    kestio::test::TemporaryFolder folder;
    Decoding d(largeClip(folder));
    ASSERT_TRUE(d.opened);
    const ClockTime now = HostTimeMediaClock().timeAt(d.loop.now());
    const double startsIn = 2.0;
    // Positioned at the second picture (as a loop's next pass at its range start).
    d.decoder->setQueuedBehind(queuedBehind);
    d.decoder->setClock({ItemTime(kFrame), now, 0.0, now + startsIn, 1.0});
    d.decoder->seek({.id = 1, .time = kFrame});
    const auto filled = [&] { return d.decoder->buffer().bufferedUntil >= 3 * kFrame - 1e-6; };

    if (queuedBehind) {
        ASSERT_TRUE(d.waitFor([&] { return d.landed(1) && d.decoder->buffer().full; }));
        EXPECT_NEAR(d.decoder->buffer().bufferedUntil, 2 * kFrame, 1e-6)
            << "one picture while waiting";
        EXPECT_EQ(readFrameNumber(d.decoder->frameAt(kFrame)), 1);
        // One picture's time before the start (within the two a full queue holds).
        d.loop.advance(startsIn - kFrame);
    }
    EXPECT_TRUE(d.waitFor(filled)) << "the queue did not fill";
    EXPECT_EQ(d.shown(1, 3), frames(1, 3));
}

INSTANTIATE_TEST_SUITE_P(Items, ItemDecoderStartAhead, ::testing::Values(true, false),
                         [](const auto& param) {
                             return std::string(param.param ? "QueuedBehind" : "Current");
                         });

// A decoder seeks to a short range's start and decodes to its end time; then a second seek is
// asked. The same seek lands at once on the pictures kept (no decoding, the landing posted
// before seek() returns); another start or a moved end decodes again and shows its own range,
// not the kept one.
struct KeptCase {
    const char* name;
    int secondStart;
    int secondEnd;
    bool landsAtOnce;
};

void PrintTo(const KeptCase& c, std::ostream* out) {
    *out << c.name;
}

class ItemDecoderKeptRange : public ::testing::TestWithParam<KeptCase> {};

TEST_P(ItemDecoderKeptRange, TheSameSeekLandsAtOnceOnThePicturesOfTheRange) {
    const KeptCase& c = GetParam();
    constexpr int kStart = 10;
    constexpr int kEnd = 16;  // six pictures
    Decoding d(mediaFixtures().rateClip({30000, 1001}).path);
    ASSERT_TRUE(d.opened);
    d.decoder->setEndTime(kEnd * kFrame);
    d.decoder->seek({.id = 1, .time = kStart * kFrame});
    ASSERT_TRUE(d.waitFor([&] { return d.landed(1) && d.decoder->buffer().ended; }));
    ASSERT_EQ(d.shown(kStart, kEnd), frames(kStart, kEnd));
    // The clock plays the range through: its pictures leave the queue.
    d.decoder->release(kEnd * kFrame);
    ASSERT_EQ(readFrameNumber(d.decoder->frameAt(kStart * kFrame)), kEnd - 1);

    if (c.secondEnd != kEnd) {
        d.decoder->setEndTime(c.secondEnd * kFrame);
    }
    d.decoder->seek({.id = 2, .time = c.secondStart * kFrame});
    d.loop.runPending();
    if (c.landsAtOnce) {
        // Nothing waited for: the decode thread had no part in it.
        EXPECT_TRUE(d.landed(2));
        EXPECT_TRUE(d.decoder->buffer().ended);
        EXPECT_NEAR(d.landings.back().landing, c.secondStart * kFrame, 1e-6);
        EXPECT_EQ(d.shown(c.secondStart, c.secondEnd), frames(c.secondStart, c.secondEnd));
    }
    ASSERT_TRUE(d.waitFor([&] { return d.landed(2) && d.decoder->buffer().ended; }));
    EXPECT_EQ(d.shown(c.secondStart, c.secondEnd), frames(c.secondStart, c.secondEnd));
    EXPECT_EQ(readFrameNumber(d.decoder->frameAt(c.secondEnd * kFrame)), c.secondEnd - 1)
        << "nothing queued past the end";
}

INSTANTIATE_TEST_SUITE_P(Cases, ItemDecoderKeptRange,
                         ::testing::Values(KeptCase{"SameStart", 10, 16, true},
                                           KeptCase{"OtherStart", 11, 16, false},
                                           KeptCase{"EndMoved", 10, 17, false}),
                         [](const auto& param) { return std::string(param.param.name); });

// A decoder seeks to a later picture (an item made ready at its in point); a second seek to the
// same time (the item started there) is answered from the picture queued, not decoded again,
// unless pictures left the queue meanwhile. Either way it lands, with its own id.
struct AgainCase {
    const char* name;
    bool releasedBetween;
    double toleranceAfter;
    bool keepsQueuedPicture;
};

void PrintTo(const AgainCase& c, std::ostream* out) {
    *out << c.name;
}

class ItemDecoderSeekAgain : public ::testing::TestWithParam<AgainCase> {};

TEST_P(ItemDecoderSeekAgain, TheSameTimeIsAnsweredFromThePictureQueued) {
    const AgainCase& c = GetParam();
    constexpr int kTarget = 20;
    Decoding d(mediaFixtures().rateClip({30000, 1001}).path);
    ASSERT_TRUE(d.opened);
    d.decoder->seek({.id = 1, .time = kTarget * kFrame});
    ASSERT_TRUE(d.waitFor([&] {
        return d.landed(1) && d.decoder->buffer().bufferedUntil >= (kTarget + 2) * kFrame;
    }));
    if (c.releasedBetween) {
        d.decoder->release((kTarget + 1.5) * kFrame);
    }
    const qint64 before = d.decoder->frameAt(kTarget * kFrame).cacheKey();

    d.decoder->seek({.id = 2, .time = kTarget * kFrame, .toleranceAfter = c.toleranceAfter});
    ASSERT_TRUE(d.waitFor([&] { return d.landed(2); }));
    EXPECT_NEAR(d.landings.back().landing, kTarget * kFrame, 1e-6);
    const QImage shown = d.decoder->frameAt(kTarget * kFrame);
    EXPECT_EQ(readFrameNumber(shown), kTarget);
    EXPECT_EQ(shown.cacheKey() == before, c.keepsQueuedPicture);
    ASSERT_TRUE(
        d.waitFor([&] { return d.decoder->buffer().bufferedUntil >= (kTarget + 3) * kFrame; }));
    EXPECT_EQ(d.shown(kTarget, kTarget + 3), frames(kTarget, kTarget + 3));
}

INSTANTIATE_TEST_SUITE_P(Cases, ItemDecoderSeekAgain,
                         ::testing::Values(AgainCase{"SameSeek", false, 0.0, true},
                                           AgainCase{"OtherTolerance", false, 0.5, true},
                                           AgainCase{"AfterPicturesLeft", true, 0.0, false}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestio::platform::media
