// The output surface's sound measured where it leaves the program: on the null device's output
// (the test's thread renders it block by block) and, once, through the system's sound server.
// Pictures are the surface's whole layer tree composed into pixels; sound is what the device
// rendered or the server played, placed on host time by the test's own account.

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/pulse_server.h"
#include "audio/sound_thread_delays.h"
#include "audio/timed_recording.h"
#include "chain_rig.h"
#include "composed_flash.h"
#include "output/output_surface.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/pulse_audio_device.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/media/decoded_player_item.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/runloop/media_clock.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"
#include "support/pulled_sound.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"
#include "sync/recorded_beeps.h"

namespace kestio::output {
namespace {

using platform::ClockTime;
using platform::HostTime;
using platform::ItemTime;
using platform::media::DecodedPlayerItem;
using platform::media::ItemStatus;

constexpr double kRate = 48000.0;
// Host time when a test begins.
constexpr double kHostStart = 1000.0;
// The device plays this much slower than host time, so a picture that followed host time
// rather than the sound would drift from it.
constexpr double kDrift = 5e-4;
// Blocks pulled while nothing is measured, and while waiting for a start.
constexpr uint32_t kFastBlock = 4800;
constexpr uint32_t kBlock = 256;
constexpr QSize kView{320, 180};

// The real surface (decoded media, paired clip players, its own engine) on a null device whose
// host time is the run loop's: every block pulled moves it by what the block lasts on the device.
class SurfaceOnTheNullDevice : public ::testing::Test {
  protected:
    SurfaceOnTheNullDevice() {
        surface.setViewSize({double(kView.width()), double(kView.height())});
    }

    const platform::MediaClock& clock() { return *surface.sharedEngine().clock(); }

    // Pulls `frames` once both chains have read ahead what they play, moves host time by what
    // they last on the device and waits until the pictures are decoded ahead of it.
    void pull(uint32_t frames) {
        device->pull(0);
        for (auto* chain : {&surface.audioA(), &surface.audioB()}) {
            ASSERT_TRUE(chain->playerNode()->waitUntilPrepared(20.0)) << "read-ahead stalled";
        }
        sound.pull(frames, loop.now().seconds());
        loop.advance(frames * (1.0 + kDrift) / kRate);
        ASSERT_TRUE(platform::media::testing::waitForDecodedAhead(
            {surface.slotA().player().get(), surface.slotB().player().get()}))
            << "decoding did not keep up";
    }

    // Pulls until the engine clock reads `clockTime` at the run loop's now, to the frame when
    // `exact`.
    void runTo(double clockTime, uint32_t block = kFastBlock) {
        while (!::testing::Test::HasFatalFailure()) {
            const double left = clockTime - clock().timeAt(loop.now()).seconds();
            if (left <= 0.5 / kRate) {
                return;
            }
            pull(std::max<uint32_t>(1, std::min<uint32_t>(block, uint32_t(left * kRate))));
        }
    }

    // Pulls small blocks, taking posted work between them, until `done` holds.
    bool pullUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 4000 && !done() && !::testing::Test::HasFatalFailure(); ++i) {
            loop.waitForPosted(0.002);
            pull(kBlock);
        }
        return done();
    }

    // The flash and the beep of `slot`'s flash-and-beep clip due at engine-clock time
    // `expected`: both found, within `tolerance` of each other on host time.
    void expectTogether(PlaybackSlot& slot, const test::FlashBeepClip& clip, double expected,
                        double tolerance, const std::string& where) {
        SCOPED_TRACE(where);
        // The picture follows the sound's clock, which runs on at most 0.1 s past the last block
        // rendered: come near in small blocks, so that the search below lies within it.
        runTo(expected - 0.15);
        runTo(expected - 0.05, kBlock);
        const uint64_t from = sound.pulled();
        const auto flash = test::firstWhiteComposed(loop, compositor, *surface.rootLayer(), kView,
                                                    *slot.player(), clip.file.frameRate.value());
        ASSERT_TRUE(flash) << "no flash composed near clock time " << expected;
        runTo(expected + 0.1);
        const auto heard = sound.leftFrom(from);
        const std::size_t at = test::firstAbove(heard, float(0.5 * clip.beepAmplitude));
        ASSERT_LT(at, heard.size()) << "no beep rendered near clock time " << expected;
        const double beep = sound.hostTimeOf(double(from + at));
        EXPECT_NEAR(*flash, beep, tolerance)
            << "flash minus beep " << (*flash - beep) * 1e3 << " ms";
        // Both where the start the clip player published puts them, not merely together. A
        // start "as soon as ready" is published as the clock's reading when it was made, and
        // the sound begins with the next block the device renders: up to a block (5.3 ms)
        // later.
        EXPECT_NEAR(beep, clock().hostTimeAt(ClockTime(expected)).seconds(), 0.008);
        worst = std::max(worst, std::abs(*flash - beep));
    }

    platform::ManualRunLoop loop{HostTime(kHostStart)};
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(kRate, 2, "Null Output", loop.hostClock());
    platform::media::DecodedMediaFactory media{loop};
    OutputSurface surface{OutputSurface::Services{loop, device, media}};
    platform::Compositor compositor;
    test::PulledSound sound{*device, (1.0 + kDrift) / kRate};
    double worst = 0.0;
};

// A slot loops the second before a clip's end (a start without an end: the range runs to the
// clip's end, found from its duration), picture and sound on the slot's one clip player: every
// pass's flash is composed within a millisecond and a half of its beep, from the first pass to
// the hundredth, and the passes are the clip player's (the chain schedules none of its own).
TEST_F(SurfaceOnTheNullDevice, ALoopsPictureAndSoundStayTogetherForAHundredPasses) {
    const auto& clip = test::flashBeepClip({30, 1});
    PlaybackSlot& slot = surface.slotA();
    surface.prepareForPlay(false);
    auto asset = media.makeAsset(clip.file.path);
    auto item = media.makeItem(asset);
    bool ready = false;
    slot.startLoop(clip.file.path, asset, item, 3.0, std::nullopt, [&ready] { ready = true; });
    ASSERT_TRUE(pullUntil([&] { return ready && slot.clipPlayer().startTime().get(); }));
    ASSERT_TRUE(slot.loopRange());
    EXPECT_NEAR(slot.loopRange()->start, 3.0, 1e-9);
    EXPECT_NEAR(slot.loopRange()->end(), 4.0, 0.01);
    EXPECT_EQ(slot.clipPlayer().player(), slot.player());
    const double start = slot.clipPlayer().startTime().get()->seconds();
    const double pass = slot.loopRange()->end() - slot.loopRange()->start;

    // The flash and the beep are half a second into each pass.
    constexpr double kTolerance = 0.0015;
    for (int k = 0; k <= 100; ++k) {
        if (k % 10 == 0 || k == 1) {
            expectTogether(slot, clip, start + k * pass + 0.5, kTolerance,
                           "pass " + std::to_string(k));
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        } else {
            runTo(start + k * pass + 0.7);
        }
        sound.dropCapture();
    }
    EXPECT_EQ(slot.clipPlayer().loopCount(), 100);
    EXPECT_FALSE(slot.audio().isLooping()) << "the chain schedules passes of its own";
    RecordProperty("worst_flash_minus_beep_us", std::to_string(std::lround(worst * 1e6)));
}

// A loop's sound is its passes end to end, each exactly the range's frames: a 0.4 s range from
// 0.5 s of a 29.97 fps clip (a loop with an in point), and over fifty passes the beep of pass k
// begins exactly k × 0.4 × 48000 frames after the first pass's, so no pass is a frame long or
// short and nothing adds up.
TEST_F(SurfaceOnTheNullDevice, ALoopsPassesAreEachExactlyTheRangesFrames) {
    const auto& clip = test::flashBeepClip({30000, 1001});
    PlaybackSlot& slot = surface.slotA();
    surface.prepareForPlay(false);
    auto asset = media.makeAsset(clip.file.path);
    bool ready = false;
    slot.startLoop(clip.file.path, asset, media.makeItem(asset), 0.5, 0.9,
                   [&ready] { ready = true; });
    ASSERT_TRUE(pullUntil([&] { return ready && slot.clipPlayer().startTime().get(); }));
    const uint64_t from = sound.pulled();
    constexpr int kPasses = 50;
    constexpr std::size_t kPassFrames = 19200;
    runTo(slot.clipPlayer().startTime().get()->seconds() + kPasses * 0.4 + 0.2);
    const auto heard = sound.leftFrom(from);
    // Each beep's first sample above half its level after a tenth of a second without one.
    std::vector<std::size_t> onsets;
    std::size_t quiet = 4800;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        const bool loud = std::abs(heard[i]) > float(0.5 * clip.beepAmplitude);
        if (loud && quiet >= 4800) {
            onsets.push_back(i);
        }
        quiet = loud ? 0 : quiet + 1;
    }
    ASSERT_GE(onsets.size(), std::size_t(kPasses));
    for (std::size_t k = 1; k < onsets.size(); ++k) {
        ASSERT_EQ(onsets[k] - onsets[0], k * kPassFrames) << "pass " << k;
    }
}

// Slot A plays a stereo 48 kHz clip; slot B is preloaded with a six-channel 44.1 kHz one and the
// chains are fitted to it; B starts at a clock time and the surface cuts to it there. A's tone
// goes on unbroken through the preload, B's starts at the cut, and there is no gap between
// them.
TEST_F(SurfaceOnTheNullDevice, APreloadOfAnotherFormatStartsAtTheCutWithoutAGap) {
    test::TemporaryFolder folder;
    const auto six = test::writeSixChannelClip(folder);
    const auto& onAir = test::mediaFixtures().rateClip({30, 1});
    PlaybackSlot& a = surface.slotA();
    PlaybackSlot& b = surface.slotB();
    a.load(onAir.path, 0.0, std::nullopt, {});
    surface.prepareForPlay(false);
    ASSERT_TRUE(pullUntil([&] { return a.audio().loadFinished(); }));
    ASSERT_TRUE(a.audio().isReady());
    a.clipPlayer().play(a.currentClip(), ItemTime(0.0),
                        ClockTime(-std::numeric_limits<double>::infinity()));
    ASSERT_TRUE(pullUntil([&] { return bool(a.clipPlayer().startTime().get()); }));
    const double aStart = a.clipPlayer().startTime().get()->seconds();
    runTo(aStart + 0.2);

    // The preload, as the playback controller makes it while A is on air.
    const uint64_t preloadFrom = sound.pulled();
    b.load(six, 0.0, std::nullopt, {});
    surface.reconfigureAudioEngine(6, 44100.0);
    ASSERT_TRUE(pullUntil([&] { return b.audio().loadFinished(); }));
    ASSERT_TRUE(b.audio().isReady());
    const double cutAt = clock().timeAt(loop.now()).seconds() + 0.2;
    ASSERT_LT(cutAt + 0.4, aStart + onAir.duration - 0.05) << "the preload took too long";
    std::optional<bool> bReady;
    b.clipPlayer().play(b.currentClip(), ItemTime(0.0), ClockTime(cutAt),
                        [&bReady](bool r) { bReady = r; });
    ASSERT_TRUE(pullUntil([&] { return bReady.has_value(); }));
    ASSERT_TRUE(*bReady);
    runTo(cutAt, kBlock);
    const uint64_t cutFrame = sound.pulled();
    surface.cut(b);
    runTo(cutAt + 0.4);

    const auto heard = sound.leftFrom(preloadFrom);
    const std::size_t cut = cutFrame - preloadFrom;
    ASSERT_GT(heard.size(), cut + 9600);
    // A's 1 kHz before the cut, through the preload and the rewiring, unbroken; only B's 400 Hz
    // after it.
    const double aRms = test::kToneAmplitude / std::sqrt(2.0);
    for (std::size_t at = 0; at + 2400 <= cut - 240; at += 1200) {
        const auto window = heard.subspan(at, 2400);
        EXPECT_NEAR(test::toneAmplitude(window, kRate, 1000.0), test::kToneAmplitude, 0.01) << at;
        EXPECT_NEAR(test::zeroCrossingFrequency(window, kRate), 1000.0, 2.0) << at;
    }
    const auto after = heard.subspan(cut + 480, 4800);
    EXPECT_NEAR(test::toneAmplitude(after, kRate, 400.0), 0.2, 0.01);
    EXPECT_LT(test::toneAmplitude(after, kRate, 1000.0), 0.005) << "A still heard after the cut";
    // B starts at the cut: none of its 400 Hz in the 25 ms before, all of it in the 25 ms from
    // a millisecond after.
    EXPECT_LT(test::toneAmplitude(heard.subspan(cut - 1200, 1200), kRate, 400.0), 0.005);
    EXPECT_NEAR(test::toneAmplitude(heard.subspan(cut + 48, 1200), kRate, 400.0), 0.2, 0.01);
    // No gap: every 400 Hz period around the cut carries sound at least half as loud as the
    // quieter of the two.
    for (std::size_t at = cut - 4800; at + 120 <= cut + 4800; at += 24) {
        const auto window = heard.subspan(at, 120);
        double sum = 0.0;
        for (const float s : window) {
            sum += double(s) * s;
        }
        ASSERT_GT(std::sqrt(sum / 120.0), 0.5 * aRms)
            << "a gap " << (double(at) - double(cut)) / kRate * 1e3 << " ms from the cut";
    }
}

class SurfaceOnPulse : public test::PulseServerSuite {};

// Through the system's output, with its real latency: a slot of the surface loops a clip's
// second around a flash, and on each of three passes the sink plays the beep (as the server's own
// timing of a recording of its monitor places it) within 5 ms of the host time at which the
// surface's composed picture turns white. The run loop follows the steady clock.
TEST_F(SurfaceOnPulse, EachLoopPassesBeepIsPlayedWithItsComposedFlash) {
    test::runOnAFedMachine([&](test::SoundThreadWatch& soundThreads) {
        const auto& clip = test::flashBeepClip({30, 1});
        platform::ManualRunLoop loop{HostTime(test::steadyNow())};
        auto device = std::make_shared<platform::audio::PulseAudioDevice>(
            loop, std::make_shared<platform::SteadyHostClock>());
        platform::media::DecodedMediaFactory media{loop};
        test::TimedRecording recording("null.monitor");
        const auto noted =
            soundThreads.notedAtEnd([&] { return test::delaysOf(*device, recording); });
        ASSERT_EQ(recording.failure(), "");
        OutputSurface surface{OutputSurface::Services{loop, device, media}};
        ASSERT_TRUE(surface.sharedEngine().isRunning());
        surface.setViewSize({double(kView.width()), double(kView.height())});
        platform::Compositor compositor;
        test::SteadyClockFollower follow(loop, 40.0);
        while (recording.frames() < std::size_t(kRate / 2) && follow()) {
        }

        PlaybackSlot& slot = surface.slotA();
        surface.prepareForPlay(false);
        auto asset = media.makeAsset(clip.file.path);
        bool ready = false;
        slot.startLoop(clip.file.path, asset, media.makeItem(asset), 1.0, 2.0,
                       [&ready] { ready = true; });
        while (!(ready && slot.clipPlayer().startTime().get()) && follow()) {
        }
        ASSERT_TRUE(ready) << "the loop never became ready";
        const double start = slot.clipPlayer().startTime().get()->seconds();
        const auto& clock = *surface.sharedEngine().clock();

        std::vector<double> flashes;
        for (int k = 0; k < 3; ++k) {
            const double expected = start + k + 0.5;  // the flash is half a second into the range
            while (clock.timeAt(loop.now()).seconds() < expected - 0.05 && follow()) {
            }
            const auto host =
                test::firstWhiteComposed(loop, compositor, *surface.rootLayer(), kView,
                                         *slot.player(), clip.file.frameRate.value());
            ASSERT_TRUE(host) << "no flash composed on pass " << k;
            flashes.push_back(*host);
        }
        const auto recordedUpTo = [&] {
            return recording.hostTimeOf(double(recording.frames())).value_or(-1e300);
        };
        while (recordedUpTo() < flashes.back() + 0.3 && follow()) {
        }
        surface.stopAll();
        ASSERT_TRUE(follow.inTime()) << "the recording did not keep up";
        test::expectRecordedBeeps(recording, flashes, clip.beepAmplitude, "pass");
    });
}

// Through the system's output: a level set on the clip on air, read from the sink's monitor one
// 1 kHz period at a time, moves from the old level to the new one and never beyond either.
TEST_F(SurfaceOnPulse, ALevelSetOnAirNeverGoesBeyondTheOldOrTheNew) {
    test::runOnAFedMachine([&](test::SoundThreadWatch& soundThreads) {
        const struct {
            float from;
            float to;
        } rows[] = {{0.0f, -6.0f}, {-6.0f, 0.0f}, {0.0f, -2.0f}, {-2.0f, -12.0f}};
        const auto& clip = test::mediaFixtures().rateClip({30, 1});
        platform::ManualRunLoop loop{HostTime(test::steadyNow())};
        auto device = std::make_shared<platform::audio::PulseAudioDevice>(
            loop, std::make_shared<platform::SteadyHostClock>());
        platform::media::DecodedMediaFactory media{loop};
        test::TimedRecording recording("null.monitor");
        const auto noted =
            soundThreads.notedAtEnd([&] { return test::delaysOf(*device, recording); });
        ASSERT_EQ(recording.failure(), "");
        OutputSurface surface{OutputSurface::Services{loop, device, media}};
        ASSERT_TRUE(surface.sharedEngine().isRunning());
        test::SteadyClockFollower follow(loop, 60.0);
        const auto& clock = *surface.sharedEngine().clock();
        const auto recordedUpTo = [&] {
            return recording.hostTimeOf(double(recording.frames())).value_or(-1e300);
        };
        constexpr std::size_t kPeriod = 48;
        const double tone = 20.0 * std::log10(test::kToneAmplitude / std::sqrt(2.0));
        for (const auto& row : rows) {
            SCOPED_TRACE(std::to_string(row.from) + " dB -> " + std::to_string(row.to) + " dB");
            surface.stopAll();
            surface.prepareForPlay(false);
            PlaybackSlot& slot = surface.hiddenSlot();
            slot.load(clip.path, 0.0, std::nullopt, {});
            slot.audio().setLevel(row.from, false);
            while (!slot.audio().loadFinished() && follow()) {
            }
            bool ready = false;
            slot.clipPlayer().play(slot.currentClip(), ItemTime(0.0), clock.timeAt(loop.now()),
                                   [&ready](bool r) { ready = r; });
            while (!(ready && slot.clipPlayer().startTime().get()) && follow()) {
            }
            ASSERT_TRUE(ready) << "the clip never became ready";
            surface.take({false, 0.0}, *slot.clipPlayer().startTime().get());
            const double start = slot.clipPlayer().startTime().get()->seconds();
            while (clock.timeAt(loop.now()).seconds() < start + 0.6 && follow()) {
            }
            const double edited = loop.now().seconds();
            slot.audio().setLevel(row.to, false);
            while (recordedUpTo() < edited + 0.4 && follow()) {
            }
            ASSERT_TRUE(follow.inTime()) << "the recording did not keep up";
            const auto heard = recording.left();
            const auto at = recording.frameAt(edited);
            ASSERT_TRUE(at);
            const auto levelAt = [&](std::size_t i) {
                return test::rmsDb(std::span<const float>(heard).subspan(i, kPeriod)) - tone;
            };
            const auto change = std::size_t(*at);
            const double high = std::max(row.from, row.to) + 0.3;
            const double low = std::min(row.from, row.to) - 0.3;
            for (std::size_t i = change - 100 * kPeriod; i < change + 250 * kPeriod; i += kPeriod) {
                const double level = levelAt(i);
                const double ms = (double(i) - double(change)) / 48.0;
                EXPECT_LE(level, high) << ms << " ms from the change";
                EXPECT_GE(level, low) << ms << " ms from the change";
            }
        }
    });
}

}  // namespace
}  // namespace kestio::output
