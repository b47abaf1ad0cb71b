#include "platform/media/item_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>
#include <vector>

#include "platform/runloop/console.h"
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

// Runs posted work until `done` holds, looking again every few milliseconds: the decode thread
// changes its queue without posting anything (30 s at most).
bool waitFor(ManualRunLoop& loop, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        loop.waitForPosted(0.005);
    }
    return true;
}

// One decoder on a manual run loop, its events taken in on the loop's thread.
struct Decoding {
    explicit Decoding(const std::filesystem::path& path) {
        ItemDecoder::Settings settings;
        settings.endTime = std::numeric_limits<double>::quiet_NaN();
        decoder = std::make_unique<ItemDecoder>(
            path, loop,
            [this](const DecoderEvent& event) {
                loop.post([this, event] {
                    opened = opened || event.kind == DecoderEvent::Kind::Opened;
                    failed = failed || event.kind == DecoderEvent::Kind::Failed;
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
        EXPECT_TRUE(runUntil(loop, [&] { return opened || failed; }));
        EXPECT_TRUE(opened);
    }
    // Waits until the queue holds the pictures through `itemTime` (or everything to the end).
    bool decodedThrough(double itemTime) {
        return waitFor(loop, [&] {
            const auto buffer = decoder->buffer();
            return buffer.ended || buffer.bufferedUntil >= itemTime;
        });
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
    bool failed = false;
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

// The 29.97 rate clip with the picture at 0.2 s (frame 6) stamped 1.659 s instead.
std::filesystem::path clipWithOneBadStamp(const kestio::test::TemporaryFolder& folder) {
    const auto path = folder / "bad_stamp.mp4";
    const std::vector<std::string> argv = {
        "ffmpeg",
        "-nostdin",
        "-y",
        "-v",
        "error",
        "-i",
        mediaFixtures().rateClip({30000, 1001}).path.string(),
        "-map",
        "0:v",
        "-c",
        "copy",
        "-bsf:v",
        "setts=pts=if(eq(round(PTS*TB*30000/1001)\\,6)\\,1.659/TB\\,PTS)",
        path.string()};
    const auto result = kestio::test::runProcess(argv, std::chrono::minutes(1));
    EXPECT_TRUE(result.succeeded()) << kestio::test::describeFailure(argv, result);
    return path;
}

struct PlayCase {
    const char* name;
    bool badStamp;
};

void PrintTo(const PlayCase& c, std::ostream* out) {
    *out << c.name;
}

class ItemDecoderPlayback : public ::testing::TestWithParam<PlayCase> {};

// Plays through by the clock alone (nothing calls release()) while a second thread reads
// pictures as a presenter does. Every picture shows at its own time; the badly stamped one is
// dropped, its predecessor holding its place.
TEST_P(ItemDecoderPlayback, ShowsEachPictureAtItsTimeByTheClockAlone) {
    kestio::test::TemporaryFolder folder;
    const auto& clip = mediaFixtures().rateClip({30000, 1001});
    const int dropped = GetParam().badStamp ? 6 : -1;
    Console::Capture console;
    Decoding d(GetParam().badStamp ? clipWithOneBadStamp(folder) : clip.path);
    ASSERT_TRUE(d.opened);

    std::atomic<bool> reading{true};
    std::atomic<int> readPictures{0};
    std::thread presenter([&] {
        while (reading.load()) {
            if (!d.decoder->frameAt(d.decoder->buffer().bufferedUntil).isNull()) {
                readPictures.fetch_add(1);
            }
        }
    });

    const ClockTime start = HostTimeMediaClock().timeAt(d.loop.now());
    d.decoder->setClock({ItemTime(0.0), start, 1.0});
    for (int n = 0; n < clip.frameCount; ++n) {
        const double t = (n + 0.5) * kFrame;
        ASSERT_TRUE(d.decodedThrough(t)) << "decoding stopped before " << t << " s";
        d.loop.advance(HostTimeMediaClock().hostTimeAt(start + t) - d.loop.now());
        const int expected = n == dropped ? n - 1 : n;
        ASSERT_EQ(readFrameNumber(d.decoder->frameAt(t)), expected) << "at " << t << " s";
    }
    // The earliest queued picture is the one showing now: the past ones left by themselves.
    EXPECT_TRUE(waitFor(
        d.loop, [&] { return readFrameNumber(d.decoder->frameAt(0.0)) == clip.frameCount - 1; }));
    reading.store(false);
    presenter.join();
    EXPECT_GT(readPictures.load(), 0);
    EXPECT_EQ(console.contains("out of order"), GetParam().badStamp);
}

INSTANTIATE_TEST_SUITE_P(Clips, ItemDecoderPlayback,
                         ::testing::Values(PlayCase{"Good", false}, PlayCase{"BadStamp", true}),
                         [](const auto& param) { return std::string(param.param.name); });

// A media clock that holds whoever reads it until the test opens it, and notes the thread that
// frees it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
    std::optional<std::thread::id> freedOn;
};

class GateClock final : public MediaClock {
  public:
    explicit GateClock(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    ~GateClock() override {
        std::lock_guard lock(gate_->mutex);
        gate_->freedOn = std::this_thread::get_id();
        gate_->changed.notify_all();
    }
    ClockTime timeAt(HostTime hostTime) const override {
        std::unique_lock lock(gate_->mutex);
        gate_->entered = true;
        gate_->changed.notify_all();
        gate_->changed.wait(lock, [&] { return gate_->open; });
        return ClockTime(hostTime.seconds());
    }
    HostTime hostTimeAt(ClockTime clockTime) const override {
        return HostTime(clockTime.seconds());
    }

  private:
    std::shared_ptr<Gate> gate_;
};

// Seeks of a decoder that has pictures queued from the top of the file, or from a seek to a
// later picture. From the top, a seek to the first picture (or before it) keeps the pictures
// already decoded (the same images, not decoded again); once the clock has released pictures,
// once a seek has positioned the decoder, or for a later target, the seek restarts decoding.
// Each lands on its picture and answers with its id.
struct SeekCase {
    const char* name;
    double positionedAt;    // NaN: from the top
    double releaseThrough;  // NaN: nothing released before the seek
    double target;
    int expectedFrame;
    bool keepsQueuedPictures;
};

void PrintTo(const SeekCase& c, std::ostream* out) {
    *out << c.name;
}

class ItemDecoderQueuedSeek : public ::testing::TestWithParam<SeekCase> {};

TEST_P(ItemDecoderQueuedSeek, LandsOnThePictureAndDecodesAgainOnlyWhenItMust) {
    const SeekCase& c = GetParam();
    Decoding d(mediaFixtures().rateClip({30000, 1001}).path);
    double from = 0.0;
    if (!std::isnan(c.positionedAt)) {
        from = c.positionedAt;
        d.decoder->seek({.id = 6, .time = from});
        ASSERT_TRUE(waitFor(d.loop, [&] { return d.landed(6); }));
        d.landings.clear();
    }
    ASSERT_TRUE(d.decodedThrough(from + 2 * kFrame));
    if (!std::isnan(c.releaseThrough)) {
        d.decoder->release(c.releaseThrough);
    }
    const qint64 before = d.decoder->frameAt(c.target).key();

    d.decoder->seek({.id = 7, .time = c.target});
    ASSERT_TRUE(waitFor(d.loop, [&] { return !d.landings.empty(); }));
    ASSERT_EQ(d.landings.size(), 1u);
    EXPECT_EQ(d.landings[0].seekId, 7u);
    EXPECT_NEAR(d.landings[0].landing, std::max(c.target, 0.0), 1e-6);
    const Picture shown = d.decoder->frameAt(c.target);
    EXPECT_EQ(readFrameNumber(shown), c.expectedFrame);
    EXPECT_EQ(shown.key() == before, c.keepsQueuedPictures);
    ASSERT_TRUE(d.decodedThrough(std::max(c.target, 0.0) + 3 * kFrame));
    EXPECT_EQ(d.shown(c.expectedFrame, c.expectedFrame + 3),
              frames(c.expectedFrame, c.expectedFrame + 3));
}

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, ItemDecoderQueuedSeek,
    ::testing::Values(SeekCase{"FirstPicture", kNone, kNone, 0.0, 0, true},
                      SeekCase{"BeforeTheFirstPicture", kNone, kNone, -1.0, 0, true},
                      SeekCase{"FirstPictureAfterARelease", kNone, 1.5 * kFrame, 0.0, 0, false},
                      SeekCase{"LaterPicture", kNone, kNone, 30 * kFrame, 30, false},
                      SeekCase{"FirstPictureOncePositionedLater", 20 * kFrame, kNone, 0.0, 0,
                               false}),
    [](const auto& param) { return std::string(param.param.name); });

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

// An item queued behind its player's current item (a loop's next pass) holds its first picture
// only (as a paused item does) while its clock stands for a seek and until a start set ahead
// is near; then it fills its queue as a playing item, within a picture's time before the start.
// The current item itself decodes ahead at once (a start set ahead is a start asked for).
struct StartCase {
    const char* name;
    bool queuedBehind;
    bool startSetAhead;  // else the clock stands (a seek under way), the start set afterwards
    bool waitsWithOnePicture;
};

void PrintTo(const StartCase& c, std::ostream* out) {
    *out << c.name;
}

class ItemDecoderStartAhead : public ::testing::TestWithParam<StartCase> {};

TEST_P(ItemDecoderStartAhead, QueuedBehindWaitsWithItsFirstPictureUntilTheStartNears) {
    const StartCase& c = GetParam();
    kestio::test::TemporaryFolder folder;
    Decoding d(largeClip(folder));
    const ClockTime now = HostTimeMediaClock().timeAt(d.loop.now());
    const double startsIn = 2.0;
    const ItemClock startAhead{ItemTime(kFrame), now, 0.0, now + startsIn, 1.0};
    // Positioned at the second picture (as a loop's next pass at its range start).
    d.decoder->setQueuedBehind(c.queuedBehind);
    d.decoder->setClock(c.startSetAhead ? startAhead : ItemClock{ItemTime(kFrame), now});
    d.decoder->seek({.id = 1, .time = kFrame});
    const auto filled = [&] { return d.decoder->buffer().bufferedUntil >= 3 * kFrame - 1e-6; };

    if (c.waitsWithOnePicture) {
        ASSERT_TRUE(
            waitFor(d.loop, [&] { return d.landed(1) && d.decoder->buffer().enoughToPlay; }));
        EXPECT_NEAR(d.decoder->buffer().bufferedUntil, 2 * kFrame, 1e-6)
            << "one picture while waiting";
        EXPECT_EQ(readFrameNumber(d.decoder->frameAt(kFrame)), 1);
        if (!c.startSetAhead) {
            d.decoder->setClock(startAhead);
        }
        // Within the picture before the start.
        d.loop.advance(startsIn - kFrame / 2);
    }
    EXPECT_TRUE(waitFor(d.loop, filled)) << "the queue did not fill";
    EXPECT_EQ(d.shown(1, 3), frames(1, 3));
}

INSTANTIATE_TEST_SUITE_P(Items, ItemDecoderStartAhead,
                         ::testing::Values(StartCase{"QueuedBehindStartSetAhead", true, true, true},
                                           StartCase{"QueuedBehindWhileItsClockStands", true, false,
                                                     true},
                                           StartCase{"CurrentStartSetAhead", false, true, false}),
                         [](const auto& param) { return std::string(param.param.name); });

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
    d.decoder->setEndTime(kEnd * kFrame);
    d.decoder->seek({.id = 1, .time = kStart * kFrame});
    ASSERT_TRUE(waitFor(d.loop, [&] { return d.landed(1) && d.decoder->buffer().ended; }));
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
    ASSERT_TRUE(waitFor(d.loop, [&] { return d.landed(2) && d.decoder->buffer().ended; }));
    EXPECT_EQ(d.shown(c.secondStart, c.secondEnd), frames(c.secondStart, c.secondEnd));
    EXPECT_EQ(readFrameNumber(d.decoder->frameAt(c.secondEnd * kFrame)), c.secondEnd - 1)
        << "nothing queued past the end";
}

INSTANTIATE_TEST_SUITE_P(Cases, ItemDecoderKeptRange,
                         ::testing::Values(KeptCase{"SameStart", 10, 16, true},
                                           KeptCase{"OtherStart", 11, 16, false},
                                           KeptCase{"EndMoved", 10, 17, false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ItemDecoderRetirement, DestroyingReturnsWhileTheThreadIsStillBusy) {
    Decoding d(mediaFixtures().rateClip({30000, 1001}).path);
    auto gate = std::make_shared<Gate>();
    auto clock = std::make_shared<GateClock>(gate);
    std::weak_ptr<GateClock> watch = clock;
    const ClockTime now = HostTimeMediaClock().timeAt(d.loop.now());  // the gate's clock reads it
    d.decoder->setClock({ItemTime(0.0), now, 1.0}, std::move(clock));
    {
        std::unique_lock lock(gate->mutex);
        ASSERT_TRUE(
            gate->changed.wait_for(lock, std::chrono::seconds(30), [&] { return gate->entered; }));
    }
    // The decode thread is held inside the clock: destroying must not wait for it.
    d.decoder.reset();
    EXPECT_FALSE(watch.expired());
    const std::size_t posted = d.loop.pendingCount();
    {
        std::unique_lock lock(gate->mutex);
        gate->open = true;
        gate->changed.notify_all();
        ASSERT_TRUE(gate->changed.wait_for(lock, std::chrono::seconds(30), [&] {
            return gate->freedOn.has_value();
        })) << "the retired thread did not end";
        EXPECT_NE(*gate->freedOn, std::this_thread::get_id());
    }
    // Nothing reached the owner's sink after it was gone.
    EXPECT_EQ(d.loop.pendingCount(), posted);
}

}  // namespace
}  // namespace kestio::platform::media
