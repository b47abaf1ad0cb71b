// The chains entering the main mixer render side by side on the engine's render helpers when
// two or more of them sound. Two engines play the same show block by block, one with helpers
// and one without: their outputs, and what their taps deliver, must match bit for bit, across
// graph changes, chains falling silent and sounding again, gain ramps and rate changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/eq_node.h"
#include "platform/audio/source_node.h"
#include "platform/audio/time_pitch_node.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::ClockTime;
using platform::audio::AudioFormat;
using platform::audio::AudioNode;
using platform::audio::AudioPlayerNode;
using platform::audio::EQBand;
using platform::audio::EQNode;
using platform::audio::PcmBuffer;
using platform::audio::SourceNode;
using platform::audio::TimePitchNode;

const AudioFormat kStereo48{48000.0, 2, false};
const AudioFormat kStereo44{44100.0, 2, false};
const AudioFormat kMono48{48000.0, 1, false};
constexpr uint32_t kBlock = 512;

// The threads that rendered the source nodes of one engine. With `waitForHelper`, a source
// rendered on the render thread waits (2 ms at most) for a chain to be rendered elsewhere,
// so that helpers, once woken, are seen even beside chains that cost next to nothing.
struct RenderThreads {
    std::mutex mutex;
    std::set<std::thread::id> seen;
    std::thread::id renderThread = std::this_thread::get_id();
    std::atomic<bool> helped{false};
    bool waitForHelper = false;

    void note() {
        const bool here = std::this_thread::get_id() == renderThread;
        {
            std::lock_guard lock(mutex);
            seen.insert(std::this_thread::get_id());
        }
        helped = helped || !here;
        const auto guard = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
        while (waitForHelper && here && !helped && std::chrono::steady_clock::now() < guard) {
        }
    }
};

// A sine that sounds only in the blocks `sounds` allows (counting its own render calls), and
// notes the thread that renders it.
std::shared_ptr<SourceNode> sine(const AudioFormat& format, double frequency,
                                 RenderThreads& threads, uint32_t silentEvery = 0) {
    auto calls = std::make_shared<uint32_t>(0);
    return std::make_shared<SourceNode>(
        format, [calls, frequency, silentEvery, &threads, rate = format.sampleRate](
                    uint32_t frames, float* const* channels, uint32_t count) {
            threads.note();
            const uint32_t call = (*calls)++;
            if (silentEvery != 0 && (call / silentEvery) % 2 == 1) {
                return false;
            }
            for (uint32_t i = 0; i < frames; ++i) {
                const double t = double(uint64_t(call) * frames + i) / rate;
                for (uint32_t c = 0; c < count; ++c) {
                    channels[c][i] = float(0.2 * std::sin(2.0 * M_PI * frequency * t + c));
                }
            }
            return true;
        });
}

// Collects what a tap delivers, as one run of samples per channel.
struct TapRecord {
    std::mutex mutex;
    std::vector<float> samples;
    std::size_t blocks = 0;

    platform::audio::TapBlock block() {
        return [this](const PcmBuffer& buffer) {
            std::lock_guard lock(mutex);
            for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
                samples.insert(samples.end(), buffer.channel(c),
                               buffer.channel(c) + buffer.frameLength());
            }
            ++blocks;
        };
    }
};

// One engine playing the show. Everything it makes is kept to the end of the test.
struct Show {
    explicit Show(uint32_t helpers) : rig(48000.0, 2, helpers) {}

    std::shared_ptr<AudioPlayerNode> player(const AudioFormat& link, double frequency,
                                            double seconds) {
        auto node = rig.makePlayer();
        node->scheduleBuffer(bufferOf(
            sineWave(frequency, link.sampleRate, std::size_t(link.sampleRate * seconds), 0.3),
            link.sampleRate));
        return node;
    }

    std::shared_ptr<TimePitchNode> stretch(const std::shared_ptr<AudioNode>& from,
                                           const AudioFormat& link, float rate) {
        auto pitch = std::make_shared<TimePitchNode>();
        rig.engine.attach(pitch);
        pitch->setRate(rate);
        EXPECT_FALSE(rig.engine.connect(from, pitch, link));
        return pitch;
    }

    void intoMixer(const std::shared_ptr<AudioNode>& node, const AudioFormat& link) {
        rig.engine.attach(node);
        EXPECT_FALSE(rig.engine.connect(node, rig.engine.mainMixerNode(), link));
    }

    void tap(const std::shared_ptr<AudioNode>& node) {
        auto& record = *taps.emplace_back(std::make_unique<TapRecord>());
        EXPECT_FALSE(node->installTap(0, kBlock, std::nullopt, record.block()));
    }

    ClockTime soon() const { return rig.engine.renderedPosition() + 0.02; }

    // Before the engine, which calls into them until it is gone.
    RenderThreads threads;
    std::vector<std::unique_ptr<TapRecord>> taps;
    EngineRig rig;
};

// Whether two runs of samples are the same bit for bit; says where they first differ.
testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) {
        return testing::AssertionFailure() << a.size() << " samples against " << b.size();
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
            return testing::AssertionFailure()
                   << "sample " << i << " differs: " << a[i] << " against " << b[i];
        }
    }
    return testing::AssertionSuccess();
}

// Plays the show on an engine with `helpers` render helpers: stretched players (one at a link
// rate the mixer converts), a sine through an EQ, a sine that keeps falling silent, a player
// that stops, volume ramps, and graph changes while it plays.
std::unique_ptr<Show> playShow(uint32_t helpers) {
    auto show = std::make_unique<Show>(helpers);
    Show& s = *show;
    auto& engine = s.rig.engine;

    auto stretched = s.player(kStereo48, 440.0, 3.0);
    auto pitch = s.stretch(stretched, kStereo48, 1.25f);
    s.intoMixer(pitch, kStereo48);
    auto converted = s.player(kStereo44, 660.0, 3.0);
    auto slowed = s.stretch(converted, kStereo44, 0.8f);
    s.intoMixer(slowed, kStereo44);
    auto tone = sine(kMono48, 300.0, s.threads);
    auto eq = std::make_shared<EQNode>(2);
    eq->setBand(0, EQBand{EQBand::FilterType::Parametric, 300.0f, 1.0f, 6.0f, false});
    engine.attach(tone);
    engine.attach(eq);
    EXPECT_FALSE(engine.connect(tone, eq, kMono48));
    s.intoMixer(eq, kMono48);
    auto flicker = sine(kStereo48, 1000.0, s.threads, 7);
    s.intoMixer(flicker, kStereo48);
    auto stopping = s.player(kStereo48, 220.0, 3.0);
    s.intoMixer(stopping, kStereo48);
    // The tap thread drains the taps in the order they were installed: once the main mixer's
    // tap (installed first, written last in each block) holds every block, the others do too.
    s.tap(engine.mainMixerNode());
    s.tap(pitch);
    s.tap(eq);
    s.tap(stopping);
    s.tap(flicker);

    EXPECT_FALSE(engine.start());
    stretched->play();
    // Starts within a block: the frame it starts on follows the time its chain renders at.
    converted->play(ClockTime(0.0917));
    stopping->play();
    s.rig.pull(20 * kBlock, kBlock);
    stretched->rampVolume(0.2f, 0.05, s.soon());
    pitch->setRate(0.9f, s.soon());
    s.rig.pull(10 * kBlock, kBlock);
    stopping->stop();
    // A chain joins, through the mixer's rate conversion.
    auto late = sine(AudioFormat{44100.0, 1, false}, 500.0, s.threads);
    s.intoMixer(late, AudioFormat{44100.0, 1, false});
    s.rig.pull(15 * kBlock, kBlock);
    // One leaves, another is rewired as one change.
    {
        const auto batch = engine.batchChanges();
        engine.detach(slowed);
        engine.detach(converted);
        engine.disconnectNodeOutput(tone);
        EXPECT_FALSE(engine.connect(tone, engine.mainMixerNode(), kMono48));
    }
    s.rig.pull(15 * kBlock, kBlock);
    stopping->play();
    s.rig.pull(20 * kBlock, kBlock);
    engine.stop();
    return show;
}

TEST(ParallelRender, ChainsRenderedSideBySideSoundBitForBitAsRenderedInTurn) {
    const auto serial = playShow(0);
    const auto parallel = playShow(3);
    for (uint32_t c = 0; c < 2; ++c) {
        ASSERT_EQ(serial->rig.device->channel(c).size(), 80u * kBlock);
        EXPECT_GT(peak(serial->rig.channel(c)), 0.1);
        EXPECT_TRUE(sameBits(parallel->rig.device->channel(c), serial->rig.device->channel(c)))
            << "channel " << c;
    }
    // Taps: what was written on the helpers reaches the tap thread as it would from the render
    // thread, silent marks included (the player that stops and the sine that keeps falling
    // silent deliver a zero block after their sound, then nothing until it comes back).
    const std::size_t mixed = 80u * kBlock * 2;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto delivered = [](TapRecord& r) {
        std::lock_guard lock(r.mutex);
        return r.samples.size();
    };
    while ((delivered(*serial->taps[0]) < mixed || delivered(*parallel->taps[0]) < mixed) &&
           std::chrono::steady_clock::now() < guard) {
        std::this_thread::yield();
    }
    ASSERT_EQ(serial->taps.size(), parallel->taps.size());
    for (std::size_t t = 0; t < serial->taps.size(); ++t) {
        auto& a = *serial->taps[t];
        auto& b = *parallel->taps[t];
        std::lock_guard lockA(a.mutex);
        std::lock_guard lockB(b.mutex);
        EXPECT_GT(a.blocks, 0u) << "tap " << t;
        EXPECT_TRUE(sameBits(b.samples, a.samples)) << "tap " << t;
    }
    // The parallel engine did render chains off the render thread; the serial one did not.
    EXPECT_EQ(serial->threads.seen, std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_GE(parallel->threads.seen.size(), 2u);
}

// Side by side only when two or more chains sound: one chain, or one sounding beside silent
// ones, renders on the render thread alone.
TEST(ParallelRender, ASingleSoundingChainStaysOnTheRenderThread) {
    struct Case {
        const char* name;
        int sounding;
        int silent;
        bool helped;
    };
    const std::vector<Case> cases = {
        {"one chain", 1, 0, false},
        {"one sounding beside three silent", 1, 3, false},
        {"two sounding", 2, 0, true},
        {"four sounding", 4, 1, true},
    };
    for (const Case& c : cases) {
        Show show(3);
        for (int i = 0; i < c.sounding; ++i) {
            show.intoMixer(sine(kStereo48, 200.0 + 100.0 * i, show.threads), kStereo48);
        }
        for (int i = 0; i < c.silent; ++i) {
            auto player = show.rig.makePlayer();  // nothing scheduled: marks its output silent
            show.intoMixer(player, kStereo48);
        }
        ASSERT_FALSE(show.rig.engine.start());
        // A new plan has no silent marks yet: its first block counts every chain as sounding.
        show.rig.pull(kBlock, kBlock);
        {
            std::lock_guard lock(show.threads.mutex);
            show.threads.seen.clear();
        }
        show.threads.helped = false;
        show.threads.waitForHelper = true;
        show.rig.pull(50 * kBlock, kBlock);
        std::lock_guard lock(show.threads.mutex);
        EXPECT_EQ(show.threads.seen.size() > 1, c.helped) << c.name;
        EXPECT_TRUE(show.threads.seen.count(std::this_thread::get_id())) << c.name;
    }
}

// Random graph changes, rates, taps and starts on two engines in step, for the thread
// sanitizer to watch the hand-overs between the render thread and its helpers.
TEST(ParallelRender, RandomChangesWhilePlayingStayBitForBit) {
    Show serial(0);
    Show parallel(3);
    std::mt19937 random(7);
    struct Chain {
        std::shared_ptr<AudioPlayerNode> player;
        std::shared_ptr<TimePitchNode> pitch;
        std::shared_ptr<SourceNode> source;
    };
    std::vector<Chain> chains[2];
    Show* shows[2] = {&serial, &parallel};
    for (Show* show : shows) {
        ASSERT_FALSE(show->rig.engine.start());
    }
    for (int step = 0; step < 60; ++step) {
        const int what = int(random() % 5);
        const float rate = 0.5f + float(random() % 16) / 10.0f;
        const std::size_t pick = random();
        const double frequency = 200.0 + double(random() % 800);
        for (int e = 0; e < 2; ++e) {
            Show& show = *shows[e];
            auto& list = chains[e];
            if ((what == 0 || list.size() < 2) && list.size() < 8) {
                Chain chain;
                chain.player = show.player(kStereo48, frequency, 2.0);
                chain.pitch = show.stretch(chain.player, kStereo48, rate);
                show.intoMixer(chain.pitch, kStereo48);
                chain.player->play();
                list.push_back(chain);
            } else if (what == 1 && !list.empty()) {
                Chain gone = list[pick % list.size()];
                list.erase(list.begin() + std::ptrdiff_t(pick % list.size()));
                for (const std::shared_ptr<AudioNode>& node :
                     {std::shared_ptr<AudioNode>(gone.pitch),
                      std::shared_ptr<AudioNode>(gone.player),
                      std::shared_ptr<AudioNode>(gone.source)}) {
                    show.rig.engine.detach(node);
                }
            } else if (what == 2 && !list.empty() && list[pick % list.size()].pitch) {
                list[pick % list.size()].pitch->setRate(rate, show.soon());
            } else if (what == 3) {
                Chain chain;
                chain.source = sine(kStereo44, frequency, show.threads, 3);
                show.intoMixer(chain.source, kStereo44);
                list.push_back(chain);
                show.tap(chain.source);
            } else if (!list.empty()) {
                auto& chain = list[pick % list.size()];
                if (chain.player) {
                    chain.player->stop();
                }
            }
        }
        for (Show* show : shows) {
            show->rig.pull(4 * kBlock, kBlock);
        }
    }
    for (uint32_t c = 0; c < 2; ++c) {
        EXPECT_GT(peak(serial.rig.channel(c)), 0.1);
        EXPECT_TRUE(sameBits(parallel.rig.device->channel(c), serial.rig.device->channel(c)))
            << "channel " << c;
    }
}

}  // namespace
}  // namespace kestio::test
