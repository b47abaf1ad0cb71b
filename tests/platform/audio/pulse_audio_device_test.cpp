#include "platform/audio/pulse_audio_device.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/source_node.h"
#include "platform/runloop/console.h"
#include "platform/runloop/manual_run_loop.h"
#include "pulse_server.h"
#include "sound_thread_delays.h"
#include "sound_thread_policy.h"
#include "support/signal_analysis.h"
#include "timed_recording.h"

namespace kestio::test {
namespace {

using platform::ManualRunLoop;
using platform::audio::AudioEngine;
using platform::audio::AudioFormat;
using platform::audio::AudioPlayerNode;
using platform::audio::AudioRenderCallback;
using platform::audio::OutputConnection;
using platform::audio::PulseAudioDevice;
using platform::audio::RenderBlock;
using platform::audio::SourceNode;

const AudioFormat kTone{48000.0, 2, false};

// A 1 kHz sine at half of full scale (-6 dBFS peak).
std::shared_ptr<SourceNode> toneSource() {
    auto phase = std::make_shared<double>(0.0);
    return std::make_shared<SourceNode>(
        kTone, [phase](uint32_t frames, float* const* channels, uint32_t count) {
            for (uint32_t i = 0; i < frames; ++i) {
                const auto s = float(0.5 * std::sin(*phase));
                *phase = std::fmod(*phase + 2.0 * M_PI * 1000.0 / 48000.0, 2.0 * M_PI);
                for (uint32_t c = 0; c < count; ++c) {
                    channels[c][i] = s;
                }
            }
            return true;
        });
}

// Watches an engine's clock against host time: how far it fell behind host time at most, over
// any stretch between two looks.
struct ClockWatch {
    explicit ClockWatch(const AudioEngine& engine) : engine_(engine) { look(); }
    void look() {
        const platform::HostTime host = engine_.device().hostNow();
        // How far the clock reads ahead of host time (the two run at about the same rate).
        const double lead = engine_.clock()->timeAt(host).seconds() - host.seconds();
        highest_ = std::max(highest_, lead);
        worstFall_ = std::max(worstFall_, highest_ - lead);
    }
    double worstFall() const { return worstFall_; }

  private:
    const AudioEngine& engine_;
    double highest_ = -1e300;
    double worstFall_ = 0.0;
};

// The level of a recording as the median of its levels over 10 ms pieces (ten cycles each), so
// that a few milliseconds dropped by a real output on a loaded machine do not count.
double medianPieceAmplitude(std::span<const float> samples) {
    constexpr std::size_t kPiece = 480;
    std::vector<double> levels;
    for (std::size_t at = 0; at + kPiece <= samples.size(); at += kPiece) {
        levels.push_back(toneAmplitude(samples.subspan(at, kPiece), 48000.0, 1000.0));
    }
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    return levels[levels.size() / 2];
}

// Checks a recording of the tone: its frequency and level over half a second. (A real output
// on a loaded machine may drop a few milliseconds; these measures do not depend on that.)
void expectTone(const std::vector<float>& recorded) {
    const std::size_t start = firstAbove(recorded, 0.25f);
    ASSERT_LT(start + 4800 + 24000, recorded.size()) << "not enough of the tone was recorded";
    const std::span<const float> window(recorded.data() + start + 4800, 24000);
    EXPECT_NEAR(medianCrossingFrequency(window, 48000.0), 1000.0, 1.0);
    EXPECT_NEAR(medianPieceAmplitude(window), 0.5, 0.5 * 0.035);  // 0.3 dB
}

class PulseAudioDeviceOnPulse : public PulseServerSuite {
  protected:
    static void expectBeepsAtTheHostTimesOfTheirClockTimes(double settleSeconds);
};

TEST_F(PulseAudioDeviceOnPulse, PlaysAToneThroughTheDefaultOutput) {
    runOnAFedMachine([&](SoundThreadWatch& soundThreads) {
        ManualRunLoop loop;
        auto device =
            std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
        const auto info = device->defaultOutput.get();
        EXPECT_TRUE(info.present);
        EXPECT_FALSE(info.name.empty());
        EXPECT_EQ(info.channelCount, 2u);
        EXPECT_EQ(info.sampleRate, 48000.0);
        EXPECT_EQ(device->renderFormat(), kTone);

        AudioEngine engine(device);
        auto tone = toneSource();
        engine.attach(tone);
        ASSERT_FALSE(engine.connect(tone, engine.mainMixerNode(), kTone));
        auto recording = server_->record("null.monitor");
        const auto noted = soundThreads.notedAtEnd([&] { return delaysOf(*device, *recording); });
        ASSERT_FALSE(engine.start());
        ASSERT_TRUE(recording->waitForSound(48000, 0.25f, 30.0)) << "no tone reached the sink";
        // The clock is behind what was rendered by what is still queued: the sink's buffer of
        // 20 ms, the block being written and the server's allowance. (The median of a few looks:
        // on a loaded machine the render thread is sometimes late.)
        std::vector<double> queued;
        ASSERT_TRUE(followWallClockUntil(
            [&] {
                const platform::ClockTime heard = engine.clock()->timeAt(device->hostNow());
                queued.push_back(engine.renderedPosition() - heard);
                return queued.size() >= 25;
            },
            loop, 30.0));
        std::nth_element(queued.begin(), queued.begin() + 12, queued.end());
        EXPECT_GT(queued[12], 0.005);
        EXPECT_LT(queued[12], 0.02 + 0.011 + 0.005 + 0.02);
        engine.stop();
        expectTone(recording->left());
    });
}

// A callback with nothing to play lets the device rest: it stops asking for blocks (its stream
// corked); a wake has it render again at once, and the sound that follows is heard.
TEST_F(PulseAudioDeviceOnPulse, RestsWhileItsCallbackHasNothingAndPlaysAgainWhenWoken) {
    struct Callback final : AudioRenderCallback {
        void render(const RenderBlock& block) noexcept override {
            blocks.fetch_add(1);
            if (sounding.load()) {
                for (uint32_t i = 0; i < block.frames; ++i) {
                    const auto s = float(0.5 * std::sin(phase));
                    phase = std::fmod(phase + 2.0 * M_PI * 1000.0 / 48000.0, 2.0 * M_PI);
                    for (uint32_t c = 0; c < block.channelCount; ++c) {
                        block.channels[c][i] = s;
                    }
                }
            } else {
                for (uint32_t c = 0; c < block.channelCount; ++c) {
                    std::fill_n(block.channels[c], block.frames, 0.0f);
                }
            }
        }
        bool mayRest() const noexcept override { return !sounding.load(); }
        std::atomic<int> blocks{0};
        std::atomic<bool> sounding{false};
        double phase = 0.0;
    } callback;
    ManualRunLoop loop;
    auto device =
        std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
    ASSERT_FALSE(device->start(callback));
    // At rest: no block for a quarter of a second.
    int seen = -1;
    auto since = std::chrono::steady_clock::now();
    ASSERT_TRUE(followWallClockUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (const int blocks = callback.blocks.load(); blocks != seen || blocks == 0) {
                seen = blocks;
                since = now;
            }
            return now - since > std::chrono::milliseconds(250);
        },
        loop, 10.0))
        << "the device never rested";
    auto recording = server_->record("null.monitor");
    callback.sounding.store(true);
    device->wake();
    ASSERT_TRUE(followWallClockUntil([&] { return callback.blocks.load() > seen; }, loop, 0.2))
        << "the wake did not end the rest";
    ASSERT_TRUE(recording->waitForSound(48000, 0.25f, 30.0)) << "no tone after the rest";
    device->stop();
    expectTone(recording->left());
}

// The thread that renders each block runs before ordinary threads, where the system allows it.
TEST_F(PulseAudioDeviceOnPulse, RendersOnAThreadUnderTheRealTimePolicyWhileItKeepsUp) {
    const std::string refused = soundThreadsMayRunInRealTime();
    platform::Console::Capture console;
    ManualRunLoop loop;
    auto device =
        std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
    int policy = -1;
    ASSERT_TRUE(followWallClockUntil(
        [&] {
            policy = policyOfThreadNamed("audio output");
            return policy != -1 && (policy != SCHED_OTHER || !refused.empty());
        },
        loop, 10.0))
        << "the output thread ran under policy " << policy;
    if (!refused.empty()) {
        // (Said as the thread starts, which may be just after it has its name.)
        EXPECT_TRUE(followWallClockUntil(
            [&] { return console.contains("runs at ordinary priority"); }, loop, 10.0))
            << "refused in silence";
        GTEST_SKIP() << refused;
    }
    EXPECT_EQ(policy, SCHED_FIFO);
    EXPECT_FALSE(console.contains("runs at ordinary priority"));

    // Rendering that takes longer than the sound it renders would keep the thread busy for
    // good: it steps down to ordinary scheduling within a second or two, and back up once
    // rendering has eased for a few seconds.
    struct Laboured final : AudioRenderCallback {
        std::atomic<bool> labouring{true};
        void render(const RenderBlock& block) noexcept override {
            const auto until = std::chrono::steady_clock::now() +
                               std::chrono::duration<double>(1.5 * block.frames / 48000.0);
            while (labouring.load() && std::chrono::steady_clock::now() < until) {
            }
            for (uint32_t c = 0; c < block.channelCount; ++c) {
                std::fill_n(block.channels[c], block.frames, 0.0f);
            }
        }
    } laboured;
    ASSERT_FALSE(device->start(laboured));
    EXPECT_TRUE(followWallClockUntil(
        [&] { return policyOfThreadNamed("audio output") == SCHED_OTHER; }, loop, 10.0))
        << "a thread busy rendering kept the real-time policy";
    // (Said just after the step, which the test may see first.)
    EXPECT_TRUE(followWallClockUntil(
        [&] { return console.contains("it runs at ordinary priority until that eases"); }, loop,
        5.0));
    laboured.labouring = false;
    EXPECT_TRUE(followWallClockUntil(
        [&] { return policyOfThreadNamed("audio output") == SCHED_FIFO; }, loop, 20.0))
        << "never back to the real-time policy";
    EXPECT_TRUE(followWallClockUntil([&] { return console.contains("real-time priority again"); },
                                     loop, 5.0));
    device->stop();
}

// Renders silence until the host time it is told, then a steady level, and notes when each
// block was asked for, when it is heard and whether it sounded (no allocation while rendering).
class SoundAfterSilence final : public AudioRenderCallback {
  public:
    struct Block {
        double askedAt = 0.0;
        double heardAt = 0.0;
        bool sounding = false;
    };

    std::atomic<double> soundFrom{INFINITY};

    void render(const RenderBlock& block) noexcept override {
        const bool sounding = block.hostNow.seconds() >= soundFrom.load();
        for (uint32_t c = 0; c < block.channelCount; ++c) {
            std::fill_n(block.channels[c], block.frames, sounding ? 0.25f : 0.0f);
        }
        const std::size_t at = count_.load(std::memory_order_relaxed);
        if (at < blocks_.size()) {
            blocks_[at] = {block.hostNow.seconds(), block.heardAt.seconds(), sounding};
            count_.store(at + 1, std::memory_order_release);
        }
    }

    // The blocks noted; read once the device has stopped.
    std::vector<Block> blocks() const {
        return {blocks_.begin(), blocks_.begin() + long(count_.load(std::memory_order_acquire))};
    }

  private:
    std::array<Block, 4096> blocks_{};
    std::atomic<std::size_t> count_{0};
};

double median(std::vector<double> values) {
    if (values.empty()) {
        return NAN;
    }
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// The first block of every wake of the render thread that rendered (blocks asked for at one
// host time come from one wake) among the blocks asked for in [from, to).
std::vector<SoundAfterSilence::Block> wakes(const std::vector<SoundAfterSilence::Block>& blocks,
                                            double from, double to) {
    std::vector<SoundAfterSilence::Block> firsts;
    for (const auto& block : blocks) {
        if (block.askedAt >= from && block.askedAt < to &&
            (firsts.empty() || block.askedAt != firsts.back().askedAt)) {
            firsts.push_back(block);
        }
    }
    return firsts;
}

// The median time between two wakes.
double medianWakeInterval(const std::vector<SoundAfterSilence::Block>& firsts) {
    std::vector<double> intervals;
    for (std::size_t i = 1; i < firsts.size(); ++i) {
        intervals.push_back(firsts[i].askedAt - firsts[i - 1].askedAt);
    }
    return median(intervals);
}

// An output fed only silence wakes less often, unless its sink ran almost dry lately, and one
// that sounds goes back to its short tick; a sound that begins in the silence is still heard within
// the sink's buffer and the server's share of the moment it began, as at the short tick.
TEST_F(PulseAudioDeviceOnPulse, WakesLessOftenWhileSilentWithoutDelayingASound) {
    runOnAFedMachine([&](SoundThreadWatch& soundThreads) {
        ManualRunLoop loop;
        auto device =
            std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
        const auto noted = soundThreads.notedAtEnd([&] { return delaysOf(*device); });
        SoundAfterSilence callback;
        ASSERT_FALSE(device->start(callback));
        const double began = device->hostNow().seconds();
        // The first second keeps the short tick: the sink starts empty, as after a late wake.
        ASSERT_TRUE(followWallClockUntil([&] { return device->hostNow().seconds() > began + 2.5; },
                                         loop, 30.0));
        const double soundFrom = device->hostNow().seconds();
        callback.soundFrom.store(soundFrom);
        ASSERT_TRUE(followWallClockUntil(
            [&] { return device->hostNow().seconds() > soundFrom + 1.0; }, loop, 30.0));
        device->stop();

        const auto blocks = callback.blocks();
        const auto silentWakes = wakes(blocks, began + 1.5, soundFrom);
        const double silentWake = medianWakeInterval(silentWakes);
        // The sink starts empty, as after a late wake on a loaded machine: the short tick holds.
        const double startingWake = medianWakeInterval(wakes(blocks, began + 0.2, began + 0.9));
        const double soundingWake =
            medianWakeInterval(wakes(blocks, soundFrom + 0.2, soundFrom + 1.0));
        RecordProperty("silent_wake_us", std::to_string(std::lround(silentWake * 1e6)));
        RecordProperty("sounding_wake_us", std::to_string(std::lround(soundingWake * 1e6)));
        RecordProperty("starting_wake_us", std::to_string(std::lround(startingWake * 1e6)));
        EXPECT_LT(startingWake, 0.0048);
        // A wake that found the sink nearly dry (its block heard within the server's share of
        // being asked for) keeps the short tick for a second: on a loaded machine the silent
        // stretch measured may rightly have kept it.
        const auto nearlyDry =
            std::count_if(silentWakes.begin(), silentWakes.end(),
                          [](const auto& wake) { return wake.heardAt - wake.askedAt < 0.0055; }) +
            std::count_if(blocks.begin(), blocks.end(), [&](const auto& block) {
                return block.askedAt >= began + 0.5 && block.askedAt < began + 1.5 &&
                       block.heardAt - block.askedAt < 0.0055;
            });
        RecordProperty("nearly_dry_wakes", std::to_string(nearlyDry));
        if (nearlyDry == 0) {
            EXPECT_GT(silentWake, 0.0055);
        }
        EXPECT_LT(soundingWake, 0.0048);
        // Between two silent wakes the sink does not run dry: what the last wake queued still
        // plays when the next one renders (a dry sink would hear each block as soon as it is asked
        // for, plus the server's share).
        std::vector<double> stillQueued;
        for (const auto& wake : silentWakes) {
            stillQueued.push_back(wake.heardAt - wake.askedAt);
        }
        RecordProperty("silent_still_queued_us",
                       std::to_string(std::lround(median(stillQueued) * 1e6)));
        EXPECT_GT(median(stillQueued), 0.005);

        const auto first = std::find_if(blocks.begin(), blocks.end(),
                                        [](const auto& block) { return block.sounding; });
        ASSERT_NE(first, blocks.end()) << "nothing sounded";
        RecordProperty("sound_heard_after_us",
                       std::to_string(std::lround((first->heardAt - soundFrom) * 1e6)));
        // The sink's buffer of 20 ms, the server's share and a late wake on a loaded machine.
        EXPECT_LT(first->heardAt - soundFrom, 0.02 + 0.011 + 0.005);
        EXPECT_GT(first->heardAt, first->askedAt);
    });
}

TEST_F(PulseAudioDeviceOnPulse, FollowsTheDefaultOutputAndKeepsItsClockWhenItGoes) {
    runOnAFedMachine([&](SoundThreadWatch& soundThreads) {
        ManualRunLoop loop;
        auto device =
            std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
        const auto noted = soundThreads.notedAtEnd([&] { return delaysOf(*device); });
        AudioEngine engine(device);
        auto tone = toneSource();
        engine.attach(tone);
        ASSERT_FALSE(engine.connect(tone, engine.mainMixerNode(), kTone));
        ASSERT_FALSE(engine.start());

        // A second output at another rate becomes the default: the sound moves there.
        ASSERT_TRUE(
            server_->pactl({"load-module", "module-null-sink", "sink_name=second", "rate=44100",
                            "channels=2", "sink_properties=device.description=Second"}));
        ASSERT_TRUE(server_->pactl({"set-default-sink", "second"}));
        ASSERT_TRUE(followWallClockUntil(
            [&] { return device->defaultOutput.get().name == "Second"; }, loop, 30.0));
        EXPECT_EQ(engine.outputFormat(), device->renderFormat());
        {
            auto recording = server_->record("second.monitor");
            ASSERT_TRUE(recording->waitForSound(48000, 0.25f, 30.0))
                << "nothing on the new default";
            expectTone(recording->left());
        }

        // It goes away: the engine's clock runs on (it falls behind host time by no more than two
        // buffer periods of a stalled sink and the new sink's buffer), and the sound comes back on
        // the next default.
        ClockWatch watch(engine);
        const uint64_t before = engine.renderedFrames();
        ASSERT_TRUE(server_->pactl({"unload-module", "module-null-sink"}));
        ASSERT_TRUE(server_->pactl(
            {"load-module", "module-null-sink", "sink_name=null", "rate=48000", "channels=2"}));
        ASSERT_TRUE(followWallClockUntil(
            [&] {
                watch.look();
                const auto current = device->defaultOutput.get();
                return current.present && current.name != "Second" && current.sampleRate == 48000.0;
            },
            loop, 30.0));
        auto recording = server_->record("null.monitor");
        ASSERT_TRUE(followWallClockUntil(
            [&] {
                watch.look();
                return recording->waitForSound(960, 0.25f, 0.0);  // a look, no wait
            },
            loop, 30.0))
            << "the sound did not come back";
        EXPECT_GT(engine.renderedFrames(), before);
        EXPECT_LT(watch.worstFall(), 2 * 0.02 + 0.02 + 0.02);
        ASSERT_TRUE(recording->waitForSound(48000, 0.25f, 30.0));
        expectTone(recording->left());
        EXPECT_TRUE(engine.isRunning());
        engine.stop();
    });
}

// The sound server goes away for longer than any retry waits, and comes back: the sound comes
// back by itself on the same device, which tells that it lost the server, kept trying it and has
// it back.
TEST_F(PulseAudioDeviceOnPulse, SoundComesBackAfterTheServerWasGoneForTenSeconds) {
    ManualRunLoop loop;
    auto device =
        std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
    AudioEngine engine(device);
    auto tone = toneSource();
    engine.attach(tone);
    ASSERT_FALSE(engine.connect(tone, engine.mainMixerNode(), kTone));
    ASSERT_FALSE(engine.start());
    {
        auto recording = server_->record("null.monitor");
        ASSERT_TRUE(recording->waitForSound(4800, 0.25f, 30.0)) << "no tone before the outage";
    }

    std::vector<OutputConnection> told;
    auto watching = device->connection.subscribe([&](OutputConnection c) { told.push_back(c); });
    server_->stop();
    // The output goes, and the device says so at once; then it keeps trying.
    ASSERT_TRUE(
        followWallClockUntil([&] { return !device->defaultOutput.get().present; }, loop, 5.0));
    EXPECT_EQ(told, std::vector<OutputConnection>{OutputConnection::lost});
    // The outage itself: ten seconds with the main thread's work going on.
    followWallClockUntil([] { return false; }, loop, 10.0);
    EXPECT_EQ(told, (std::vector<OutputConnection>{OutputConnection::lost,
                                                   OutputConnection::reconnecting}));
    ASSERT_EQ(server_->start(), "");
    auto recording = server_->record("null.monitor");
    ASSERT_TRUE(
        followWallClockUntil([&] { return recording->waitForSound(960, 0.25f, 0.0); }, loop, 30.0))
        << "the sound did not come back";
    EXPECT_EQ(told.back(), OutputConnection::connected);
    EXPECT_TRUE(device->defaultOutput.get().present);
    ASSERT_TRUE(recording->waitForSound(48000, 0.25f, 30.0));
    expectTone(recording->left());
    EXPECT_TRUE(engine.isRunning());
    engine.stop();
}

// Beeps started at engine clock times are played by the sink, as the server's own timing of a
// recording of its monitor places them, at the host times the engine's clock gives for them:
// the clock counts the sound server's latency as well as the sink's buffers. The beeps start
// `settleSeconds` after the output.
void PulseAudioDeviceOnPulse::expectBeepsAtTheHostTimesOfTheirClockTimes(double settleSeconds) {
    runOnAFedMachine([&](SoundThreadWatch& soundThreads) {
        ManualRunLoop loop;
        auto device =
            std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
        AudioEngine engine(device);
        auto player = std::make_shared<AudioPlayerNode>();
        engine.attach(player);
        ASSERT_FALSE(engine.connect(player, engine.mainMixerNode(), kTone));
        TimedRecording recording("null.monitor");
        const auto noted = soundThreads.notedAtEnd([&] { return delaysOf(*device, recording); });
        ASSERT_FALSE(engine.start());
        // Time to settle the output, the clock and the server's latency readings.
        const platform::HostTime settled = device->hostNow() + settleSeconds;
        ASSERT_TRUE(followWallClockUntil([&] { return device->hostNow() > settled; }, loop, 30.0));
        ASSERT_EQ(recording.failure(), "");
        // The server's share with this output playing, as pactl reads it, for the record: the null
        // sink plays only as far ahead as the shortest buffer among its streams allows, which is
        // this output's own (a few milliseconds).
        if (const auto serverLatency = server_->meanSinkLatency(20)) {
            RecordProperty("server_latency_us", std::to_string(std::lround(*serverLatency * 1e6)));
        }

        constexpr std::size_t kBeep = 2400;  // 50 ms of 1 kHz at half of full scale
        const std::vector<double> offsets{0.0, 0.4, 0.8};
        std::vector<float> beeps(std::size_t(1.2 * 48000), 0.0f);
        const auto beep = sineWave(1000.0, 48000.0, kBeep, 0.5);
        for (const double offset : offsets) {
            std::copy(beep.begin(), beep.end(), beeps.begin() + long(offset * 48000));
        }
        const std::size_t rise =
            firstAbove(beep, 0.25f);  // where a beep first passes half its level
        player->scheduleBuffer(bufferOf(beeps, 48000.0));
        ASSERT_TRUE(player->waitUntilPrepared(20.0));
        const platform::ClockTime start = engine.clock()->timeAt(device->hostNow()) + 0.3;
        player->play(start);
        const double end = (engine.clock()->hostTimeAt(start + 1.2) + 0.3).seconds();
        ASSERT_TRUE(followWallClockUntil(
            [&] {
                const auto last = recording.hostTimeOf(double(recording.frames()));
                return last && *last > end;
            },
            loop, 30.0))
            << "the recording did not keep up: " << recording.failure();
        engine.stop();

        const auto left = recording.left();
        for (std::size_t k = 0; k < offsets.size(); ++k) {
            const double expected = engine.clock()->hostTimeAt(start + offsets[k]).seconds();
            const auto from = std::size_t(std::max(0.0, *recording.frameAt(expected - 0.1)));
            ASSERT_LT(from, left.size());
            const std::size_t at =
                firstAbove(std::span<const float>(left).subspan(from), 0.25f) + from;
            ASSERT_LT(at, left.size()) << "beep " << k << " was not recorded";
            const double heard = *recording.hostTimeOf(double(at - rise));
            RecordProperty("beep" + std::to_string(k) + "_heard_minus_clock_us",
                           std::to_string(std::lround((heard - expected) * 1e6)));
            EXPECT_NEAR(heard, expected, 0.005) << "beep " << k;
        }
    });
}

TEST_F(PulseAudioDeviceOnPulse, BeepsAreHeardAtTheHostTimesOfTheirClockTimes) {
    expectBeepsAtTheHostTimesOfTheirClockTimes(1.0);
}

// As above, once the server's latency has settled and is asked for only every 100 to 300 ms:
// the mean of those rarer answers places the beeps as well.
TEST_F(PulseAudioDeviceOnPulse, BeepsAreHeardAtTheirClockTimesOnceTheLatencyIsAskedRarely) {
    expectBeepsAtTheHostTimesOfTheirClockTimes(5.0);
}

}  // namespace
}  // namespace kestio::test
