// The output's rest on a real sound server, where the null device cannot show it: the program's
// engine (a chain attached from the start) rests a second after it starts, and its first cue is
// heard at its clock time and whole; a chain at another rate than the output lets it rest again
// after every cue.

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <span>

#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/pulse_audio_device.h"
#include "platform/runloop/manual_run_loop.h"
#include "pulse_server.h"
#include "support/signal_analysis.h"
#include "timed_recording.h"

namespace kestio::test {
namespace {

using platform::ManualRunLoop;
using platform::audio::AudioEngine;
using platform::audio::AudioFormat;
using platform::audio::AudioPlayerNode;
using platform::audio::PulseAudioDevice;

class OutputRestOnPulse : public PulseServerSuite {};

TEST_F(OutputRestOnPulse, TheFirstCueIsOnTimeAndTheOutputRestsAfterEveryCueAtAnyRate) {
    ManualRunLoop loop;
    auto device =
        std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
    AudioEngine engine(device);
    const AudioFormat chain{48000.0, 2, false};
    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    ASSERT_FALSE(engine.connect(player, engine.mainMixerNode(), chain));
    TimedRecording recording("null.monitor");
    ASSERT_FALSE(engine.start());
    const auto restsWithin = [&](double seconds) {
        return followWallClockUntil([&] { return device->resting(); }, loop, seconds);
    };
    ASSERT_TRUE(restsWithin(AudioEngine::kRestAfterSeconds + 2.0)) << "no rest after the start";

    // The first cue: 0.3 s of tone, started at a clock time just ahead, as a cue is.
    constexpr std::size_t kCue = 14400;
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, kCue, 0.5), 48000.0));
    ASSERT_TRUE(player->waitUntilPrepared(20.0));
    const platform::ClockTime start = engine.clock()->timeAt(device->hostNow()) + 0.1;
    player->play(start);
    const double due = engine.clock()->hostTimeAt(start).seconds();
    ASSERT_TRUE(followWallClockUntil(
        [&] {
            const auto last = recording.hostTimeOf(double(recording.frames()));
            return last && *last > due + 0.6;
        },
        loop, 30.0))
        << recording.failure();
    const auto left = recording.left();
    const auto from = std::size_t(std::max(0.0, *recording.frameAt(due - 0.1)));
    const std::span<const float> around = std::span<const float>(left).subspan(from);
    const std::size_t first = firstAbove(around, 0.25f);
    ASSERT_LT(first, around.size()) << "the first cue after the start was not heard";
    EXPECT_NEAR(*recording.hostTimeOf(double(from + first)), due, 0.01);
    EXPECT_GT(endAbove(around, 0.25f) - first, kCue - 480) << "the cue was not heard whole";

    // A chain at another rate than the output (as every chain is once the server's output
    // changes its rate): its sound is converted, and the output rests again after each cue.
    const AudioFormat other{44100.0, 2, false};
    auto converted = std::make_shared<AudioPlayerNode>();
    engine.attach(converted);
    ASSERT_FALSE(engine.connect(converted, engine.mainMixerNode(), other));
    for (int cue = 0; cue < 2; ++cue) {
        converted->stop();
        converted->scheduleBuffer(bufferOf(sineWave(1000.0, 44100.0, 13230, 0.5), 44100.0));
        converted->play();
        ASSERT_TRUE(followWallClockUntil([&] { return !device->resting(); }, loop, 1.0));
        EXPECT_TRUE(restsWithin(0.3 + AudioEngine::kRestAfterSeconds + 2.0))
            << "no rest after cue " << cue << " of a chain at another rate";
    }
    engine.stop();
}

}  // namespace
}  // namespace kestio::test
