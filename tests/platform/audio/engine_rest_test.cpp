// When the engine lets its device rest: after a second of nothing to play since the last wake,
// never while a sound is due (a timed start ahead, a sound ending), and every call that may
// make a sound wakes the device at once.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "engine_rig.h"
#include "platform/audio/source_node.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::ClockTime;
using platform::audio::AudioEngine;
using platform::audio::AudioPlayerNode;

constexpr uint32_t kRate = 48000;

uint32_t framesOf(double seconds) {
    return uint32_t(seconds * kRate);
}

std::shared_ptr<platform::audio::PcmBuffer> beep(double seconds) {
    return bufferOf(sineWave(1000.0, kRate, framesOf(seconds), 0.5), kRate);
}

struct RestCase {
    const char* name;
    // What the show does before the output renders `seconds` more.
    std::function<void(EngineRig&, AudioPlayerNode&)> before;
    double seconds;
    bool mayRest;
};

class EngineRest : public testing::TestWithParam<RestCase> {};

TEST_P(EngineRest, FollowsWhatIsDue) {
    const RestCase& c = GetParam();
    EngineRig rig(kRate);
    auto player = rig.startedPlayer();
    if (c.before) {
        c.before(rig, *player);
    }
    rig.pull(framesOf(c.seconds), 512);
    EXPECT_EQ(rig.device->callbackMayRest(), c.mayRest);
}

INSTANTIATE_TEST_SUITE_P(
    Silence, EngineRest,
    testing::Values(RestCase{"NothingToPlay", {}, AudioEngine::kRestAfterSeconds + 0.05, true},
                    RestCase{"NotYetLongEnough", {}, AudioEngine::kRestAfterSeconds - 0.05, false},
                    RestCase{"ASoundEndedAWhileAgo",
                             [](EngineRig&, AudioPlayerNode& player) {
                                 player.scheduleBuffer(beep(0.2));
                                 player.play();
                             },
                             0.2 + AudioEngine::kRestAfterSeconds + 0.05, true},
                    RestCase{"ASoundEndedJustNow",
                             [](EngineRig&, AudioPlayerNode& player) {
                                 player.scheduleBuffer(beep(0.2));
                                 player.play();
                             },
                             0.2 + AudioEngine::kRestAfterSeconds - 0.05, false},
                    RestCase{"ATimedStartAhead",
                             [](EngineRig& rig, AudioPlayerNode& player) {
                                 player.scheduleBuffer(beep(0.2));
                                 player.play(rig.engine.clock()->timeAt(rig.device->hostNow()) +
                                             3.0);
                             },
                             AudioEngine::kRestAfterSeconds + 0.5, false}),
    [](const auto& param) { return std::string(param.param.name); });

struct WakeCase {
    const char* name;
    std::function<void(EngineRig&, AudioPlayerNode&)> wake;
};

class EngineWake : public testing::TestWithParam<WakeCase> {};

// Each call that may make a sound ends a rest: the engine no longer lets the device rest,
// before any block is rendered, and a resting device is woken.
TEST_P(EngineWake, EndsARestAtOnce) {
    EngineRig rig(kRate);
    auto player = rig.startedPlayer();
    rig.pull(framesOf(AudioEngine::kRestAfterSeconds + 0.05), 512);
    ASSERT_TRUE(rig.device->callbackMayRest());
    const int wakes = rig.device->wakes();
    GetParam().wake(rig, *player);
    EXPECT_GT(rig.device->wakes(), wakes);
    EXPECT_FALSE(rig.device->callbackMayRest());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, EngineWake,
    testing::Values(WakeCase{"Schedule",
                             [](EngineRig&, AudioPlayerNode& player) {
                                 player.scheduleBuffer(beep(0.1));
                             }},
                    WakeCase{"Play", [](EngineRig&, AudioPlayerNode& player) { player.play(); }},
                    WakeCase{"ANodeConnected",
                             [](EngineRig& rig, AudioPlayerNode&) {
                                 auto tone = std::make_shared<platform::audio::SourceNode>(
                                     rig.device->renderFormat(),
                                     [](uint32_t, float* const*, uint32_t) { return true; });
                                 rig.engine.attach(tone);
                                 EXPECT_FALSE(rig.engine.connect(tone, rig.engine.mainMixerNode(),
                                                                 rig.device->renderFormat()));
                             }}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestio::test
