// Pictures and sound of one clip played on one clock: the real decoded player following an audio
// engine's clock, the clip's sound on a player node of that engine. The clip flashes white and
// beeps at the same presentation time once a second; the flash is found where frameAt() first
// shows it (bisected on host time) and the beep where the sound first reaches half its level.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/pulse_server.h"
#include "audio/signal_analysis.h"
#include "audio/timed_recording.h"
#include "media/playback_test_support.h"
#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_file.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/qt_audio_device.h"
#include "platform/audio/time_pitch_node.h"
#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_layer.h"
#include "platform/media/decoded_player_looper.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"

namespace kestio::platform {
namespace {

using audio::AudioFile;
using audio::AudioPlayerNode;
using audio::TimePitchNode;
using media::DecodedAsset;
using media::DecodedPlayerItem;
using media::DecodedPlayerLayer;
using media::DecodedPlayerLooper;
using media::DecodedQueuePlayer;
using media::TimeRange;
using test::FlashBeepClip;
using test::flashBeepClip;

constexpr double kRate = 48000.0;
// Blocks pulled while nothing is measured, and while a flash or beep is near.
constexpr uint32_t kFastBlock = 4800;
constexpr uint32_t kBlock = 256;
constexpr double kTolerance = 0.001;

bool isWhite(const QImage& picture) {
    return !picture.isNull() &&
           qGray(picture.pixel(picture.width() / 2, picture.height() / 2)) > 128;
}

// The host time at which the player's picture first turns white within 0.15 s of the run
// loop's now (what its decoder holds ahead), to well under a microsecond: stepped by half a
// frame, then bisected.
std::optional<double> firstWhite(ManualRunLoop& loop, const media::PlayerLayer& layer,
                                 double frameRate) {
    const auto player = layer.player();
    auto item = std::dynamic_pointer_cast<DecodedPlayerItem>(player->current());
    if (!item) {
        return std::nullopt;
    }
    const double rate = player->rateValue();
    EXPECT_TRUE(media::testing::waitForDecoded(loop, *item, item->currentTime() + 0.15 * rate));
    const double step = 0.5 / frameRate / std::max(rate, 0.1);
    double lo = loop.now();
    if (isWhite(layer.frameAt(lo))) {
        ADD_FAILURE() << "already white at host time " << lo;
        return std::nullopt;
    }
    double hi = lo;
    while (!isWhite(layer.frameAt(hi))) {
        lo = hi;
        hi += step;
        if (hi > loop.now() + 0.15) {
            return std::nullopt;
        }
    }
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (lo + hi);
        (isWhite(layer.frameAt(mid)) ? hi : lo) = mid;
    }
    return hi;
}

// An engine on a null device whose host time is the run loop's, pulled by the test in step
// with the loop, and a decoded player on the same loop following the engine's clock.
class AvSync : public ::testing::Test {
  protected:
    void load(const FlashBeepClip& clip, bool throughTimePitch = false) {
        clip_ = &clip;
        sound_ = AudioFile::openForReading(clip.file.path);
        ASSERT_TRUE(sound_);
        engine_.attach(node_);
        const auto format = sound_->processingFormat();
        if (throughTimePitch) {
            stretch_ = std::make_shared<TimePitchNode>();
            engine_.attach(stretch_);
            ASSERT_FALSE(engine_.connect(node_, stretch_, format));
            ASSERT_FALSE(engine_.connect(stretch_, engine_.mainMixerNode(), format));
        } else {
            ASSERT_FALSE(engine_.connect(node_, engine_.mainMixerNode(), format));
        }
        ASSERT_FALSE(engine_.start());
        player_->setClock(engine_.clock());
    }

    // The clip as the player's one item, paused at its start.
    void insertWholeClip() {
        auto item = DecodedPlayerItem::make(DecodedAsset::make(loop_, clip_->file.path));
        player_->insert(item);
        ASSERT_TRUE(media::testing::waitForStatus(loop_, *item));
        ASSERT_TRUE(layer_.readyForDisplay() ||
                    media::testing::runUntil(loop_, [&] { return layer_.readyForDisplay(); }));
    }

    // Pulls sound and moves the run loop in step up to clock time `clockTime` (to the frame), in
    // blocks of at most `block` frames, each once the node has read ahead what it will play.
    // Pictures are not waited for: measurements wait for the ones they look at.
    void runTo(double clockTime, uint32_t block = kFastBlock) {
        const auto target = static_cast<uint64_t>(std::llround(clockTime * kRate));
        while (pulled_ < target && !::testing::Test::HasFatalFailure()) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(block, target - pulled_));
            device_->pull(0);
            ASSERT_TRUE(node_->waitUntilPrepared(20.0)) << "the sound's read-ahead stalled";
            device_->pull(n);
            pulled_ += n;
            loop_.advance(n / kRate);
        }
    }

    // The clock time at which the picture first shows white after `from`, to well under a
    // microsecond, looked for up to 0.15 s ahead (what the decoder holds ahead of the clock).
    std::optional<double> flashAfter(double from) {
        runTo(from);
        const auto flash = firstWhite(loop_, layer_, clip_->file.frameRate.value());
        return flash ? std::optional(engine_.clock()->timeAt(*flash)) : std::nullopt;
    }

    // The clock time at which the rendered sound first reaches half the beep's level after
    // `from` (83 µs into a beep; above the low smear a stretcher puts ahead of it), rendered
    // up to a quarter second beyond it.
    std::optional<double> beepAfter(double from) {
        runTo(from + 0.25, kBlock);
        if (device_->captured().empty()) {
            return std::nullopt;
        }
        const auto& left = device_->channel(0);
        const auto first = static_cast<uint64_t>(std::llround(from * kRate));
        if (first < captureBase_) {
            return std::nullopt;
        }
        const std::span<const float> window(left.data() + (first - captureBase_),
                                            left.size() - (first - captureBase_));
        const std::size_t at = test::firstAbove(window, float(0.5 * clip_->beepAmplitude));
        if (at == window.size()) {
            return std::nullopt;
        }
        return double(first + at) / kRate;
    }

    // The flash and the beep expected near clock time `expected`: both found, and together.
    void expectTogether(double expected, const std::string& where) {
        SCOPED_TRACE(where);
        const auto flash = flashAfter(expected - 0.05);
        ASSERT_TRUE(flash) << "no flash near clock " << expected;
        const auto beep = beepAfter(expected - 0.05);
        ASSERT_TRUE(beep) << "no beep near clock " << expected;
        RecordProperty(where + "_flash_minus_beep_us",
                       std::to_string(std::lround((*flash - *beep) * 1e6)));
        EXPECT_NEAR(*flash, expected, kTolerance) << "the picture left the clock";
        EXPECT_NEAR(*flash, *beep, kTolerance) << "flash at " << *flash << ", beep at " << *beep;
    }

    void changeRateAt(float rate, double at);
    void changeRates(bool back);

    // Lets go of the sound rendered so far (long runs would otherwise hold minutes of it).
    void dropCapture() {
        if (!device_->captured().empty()) {
            captureBase_ += device_->channel(0).size();
            device_->clearCaptured();
        }
    }

    ManualRunLoop loop_;
    std::shared_ptr<test::NullAudioDevice> device_ = std::make_shared<test::NullAudioDevice>(
        kRate, 2, "Null Output", [this] { return loop_.now(); });
    audio::AudioEngine engine_{device_};
    std::shared_ptr<AudioPlayerNode> node_ = std::make_shared<AudioPlayerNode>();
    std::shared_ptr<TimePitchNode> stretch_;
    std::shared_ptr<DecodedQueuePlayer> player_ = DecodedQueuePlayer::make(loop_);
    DecodedPlayerLayer layer_{player_};
    const FlashBeepClip* clip_ = nullptr;
    std::shared_ptr<AudioFile> sound_;
    uint64_t pulled_ = 0;
    uint64_t captureBase_ = 0;  // frames dropped from the device's capture
};

class AvSyncStraight : public AvSync, public ::testing::WithParamInterface<test::Rational> {};

// Both start at one clock time; every flash of the clip is seen with its beep.
TEST_P(AvSyncStraight, EveryFlashIsSeenWithItsBeep) {
    const auto& clip = flashBeepClip(GetParam());
    load(clip);
    insertWholeClip();
    constexpr double kStart = 0.5;
    node_->scheduleSegment(sound_, 0, uint64_t(sound_->length()));
    node_->play(kStart);
    player_->setRate(1.0f, kStart);
    for (std::size_t k = 0; k < clip.flashTimes.size(); ++k) {
        expectTogether(kStart + clip.flashTimes[k], "flash" + std::to_string(k));
    }
}

// A one-second range looped on the pictures and scheduled pass after pass on the sound, as the
// playback layer restarts the sound at each seam: still together after a hundred passes.
TEST_F(AvSync, ALoopedRangeKeepsItsSoundForAHundredPasses) {
    const auto& clip = flashBeepClip({30, 1});
    load(clip);
    const TimeRange range = TimeRange::fromTo(1.0, 2.0);  // flash and beep at 1.5
    DecodedPlayerLooper looper(
        player_, DecodedPlayerItem::make(DecodedAsset::make(loop_, clip.file.path)), range);
    ASSERT_TRUE(media::testing::runUntil(loop_, [&] { return layer_.readyForDisplay(); }));
    constexpr int kPasses = 101;
    const auto passFrames = static_cast<uint64_t>(std::llround(range.duration * kRate));
    for (int pass = 0; pass < kPasses; ++pass) {
        node_->scheduleSegment(sound_, std::llround(range.start * kRate), passFrames);
    }
    constexpr double kStart = 0.5;
    node_->play(kStart);
    player_->setRate(1.0f, kStart);
    expectTogether(kStart + 0.5, "pass0");
    for (int pass = 1; pass < 100; ++pass) {
        runTo(kStart + pass);
        dropCapture();
    }
    expectTogether(kStart + 100 + 0.5, "pass100");
    EXPECT_EQ(looper.loopCount(), 100);
}

// Both change rate at clock time `at`: the sound's change asked for ahead, falling within the
// block that is then pulled, and the pictures' made when the run loop reaches that time.
void AvSync::changeRateAt(float rate, double at) {
    constexpr uint32_t kInto = 100;  // frames into the block
    runTo(at - kInto / kRate);
    stretch_->setRate(rate, at);
    device_->pull(0);
    ASSERT_TRUE(node_->waitUntilPrepared(20.0)) << "the sound's read-ahead stalled";
    device_->pull(kBlock);
    pulled_ += kBlock;
    loop_.advance(kInto / kRate);
    player_->setRate(rate, at);
    loop_.advance((kBlock - kInto) / kRate);
}

// The pictures and the sound through a time-pitch node both set to 1.5 at one clock time,
// and with `back`, both back to 1 later.
void AvSync::changeRates(bool back) {
    const auto& clip = flashBeepClip({30, 1});
    load(clip, true);
    insertWholeClip();
    node_->scheduleSegment(sound_, 0, uint64_t(sound_->length()));
    constexpr double kStart = 0.5;
    node_->play(kStart);
    player_->setRate(1.0f, kStart);
    expectTogether(1.0, "before");
    changeRateAt(1.5f, 1.25);      // at item time 0.75
    expectTogether(1.75, "fast");  // item time 1.5
    if (back) {
        changeRateAt(1.0f, 2.0);  // at item time 1.875
        expectTogether(2.625, "after");
        expectTogether(3.625, "later");
    }
}

TEST_F(AvSync, ARateChangeKeepsThemTogether) {
    changeRates(false);
}

TEST_F(AvSync, ComingBackToRateOneKeepsThemTogether) {
    changeRates(true);
}

INSTANTIATE_TEST_SUITE_P(Rates, AvSyncStraight,
                         ::testing::Values(test::Rational{30, 1}, test::Rational{60000, 1001}),
                         [](const auto& rate) { return std::to_string(rate.param.num); });

double steadyNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class AvSyncOnPulse : public test::PulseServerSuite {};

// Through the system's output, with its real latency: the beep is played by the sink, as the
// server's own timing of a recording of its monitor places it, within 5 ms of the host time at
// which frameAt() shows its flash. The run loop follows the steady clock (the device's host
// time).
TEST_F(AvSyncOnPulse, EveryBeepIsPlayedWithFiveMillisecondsOfItsFlash) {
    const auto& clip = flashBeepClip({30, 1});
    ManualRunLoop loop(steadyNow());
    auto device = std::make_shared<audio::QtAudioDevice>(loop);
    audio::AudioEngine engine(device);
    auto node = std::make_shared<AudioPlayerNode>();
    engine.attach(node);
    auto sound = AudioFile::openForReading(clip.file.path);
    ASSERT_TRUE(sound);
    ASSERT_FALSE(engine.connect(node, engine.mainMixerNode(), sound->processingFormat()));
    auto player = DecodedQueuePlayer::make(loop);
    player->setClock(engine.clock());
    DecodedPlayerLayer layer{player};
    auto item = DecodedPlayerItem::make(DecodedAsset::make(loop, clip.file.path));
    player->insert(item);
    ASSERT_TRUE(media::testing::waitForStatus(loop, *item));

    test::TimedRecording recording("null.monitor");
    ASSERT_EQ(recording.failure(), "");
    ASSERT_FALSE(engine.start());
    const auto deadline = steadyNow() + 30.0;
    // Takes in the recording and Qt's events, and moves the run loop up to the steady clock.
    auto follow = [&] {
        QEventLoop events;
        QTimer::singleShot(2, &events, &QEventLoop::quit);
        events.exec();
        loop.advance(std::max(0.0, steadyNow() - loop.now()));
        return steadyNow() < deadline;
    };
    const auto& clock = *engine.clock();
    // Half a second to settle the output and its clock, then both start together.
    while (recording.frames() < std::size_t(kRate / 2) && follow()) {
    }
    ASSERT_TRUE(node->waitUntilPrepared(20.0));
    node->scheduleSegment(sound, 0, uint64_t(sound->length()));
    const double start = clock.timeAt(steadyNow()) + 0.3;
    node->play(start);
    player->setRate(1.0f, start);

    std::vector<double> flashes;
    for (const double flash : clip.flashTimes) {
        while (clock.timeAt(loop.now()) < start + flash - 0.05 && follow()) {
        }
        const auto host = firstWhite(loop, layer, clip.file.frameRate.value());
        ASSERT_TRUE(host) << "no flash near item time " << flash;
        flashes.push_back(*host);
    }
    const auto recordedUpTo = [&] {
        return recording.hostTimeOf(double(recording.frames())).value_or(-1e300);
    };
    while (recordedUpTo() < flashes.back() + 0.3 && follow()) {
    }
    engine.stop();
    ASSERT_LT(steadyNow(), deadline) << "the recording did not keep up";

    const auto left = recording.left();
    for (std::size_t k = 0; k < flashes.size(); ++k) {
        const auto from = std::size_t(std::max(0.0, *recording.frameAt(flashes[k] - 0.3)));
        ASSERT_LT(from, left.size());
        const std::span<const float> window(left.data() + from, left.size() - from);
        const std::size_t at = test::firstAbove(window, float(0.5 * clip.beepAmplitude));
        ASSERT_LT(at, window.size()) << "no beep recorded near flash " << k;
        const double beep = *recording.hostTimeOf(double(from + at));
        RecordProperty("flash" + std::to_string(k) + "_minus_beep_us",
                       std::to_string(std::lround((flashes[k] - beep) * 1e6)));
        EXPECT_NEAR(flashes[k], beep, 0.005) << "flash " << k;
    }
}

}  // namespace
}  // namespace kestio::platform
