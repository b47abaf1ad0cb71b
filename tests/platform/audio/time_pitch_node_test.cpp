#include "platform/audio/time_pitch_node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/source_node.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFormat;
using platform::audio::SourceNode;
using platform::audio::TimePitchNode;

const AudioFormat kStereo48{48000.0, 2, false};

// A time-pitch node between `source` and the main mixer, on a started engine.
std::shared_ptr<TimePitchNode> stretchOnStartedEngine(
    EngineRig& rig, const std::shared_ptr<platform::audio::AudioNode>& source) {
    auto pitch = std::make_shared<TimePitchNode>();
    rig.engine.attach(source);
    rig.engine.attach(pitch);
    EXPECT_FALSE(rig.engine.connect(source, pitch, kStereo48));
    EXPECT_FALSE(rig.engine.connect(pitch, rig.engine.mainMixerNode(), kStereo48));
    EXPECT_FALSE(rig.engine.start());
    return pitch;
}

struct StretchRig {
    StretchRig() {
        player = rig.makePlayer();
        pitch = std::make_shared<TimePitchNode>();
        rig.engine.attach(pitch);
        EXPECT_FALSE(rig.engine.connect(player, pitch, kStereo48));
        EXPECT_FALSE(rig.engine.connect(pitch, rig.engine.mainMixerNode(), kStereo48));
        EXPECT_FALSE(rig.engine.start());
    }

    EngineRig rig;
    std::shared_ptr<platform::audio::AudioPlayerNode> player;
    std::shared_ptr<TimePitchNode> pitch;
};

TEST(TimePitchNode, AtRateOneTheSoundPassesUntouched) {
    StretchRig s;
    const auto tone = sineWave(1000.0, 48000.0, 20000, 0.7);
    s.player->scheduleBuffer(bufferOf(tone, 48000.0));
    s.player->play();
    s.rig.pull(20000, 700);
    const auto out = s.rig.channel(0);
    EXPECT_EQ(std::vector<float>(out.begin(), out.end()), tone);
}

// The issue of a show: a clip played faster or slower must keep its pitch and take
// input / rate seconds.
TEST(TimePitchNode, KeepsTheToneAndScalesTheDuration) {
    struct Case {
        float rate;
        double inputSeconds;
    };
    for (const Case c : {Case{0.5f, 2.0}, Case{1.5f, 3.0}, Case{4.0f, 8.0}}) {
        StretchRig s;
        s.pitch->setRate(c.rate);
        const auto input = std::size_t(c.inputSeconds * 48000.0);
        s.player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, input, 0.5), 48000.0));
        s.player->play();
        const double expected = double(input) / c.rate;
        s.rig.pull(uint32_t(expected + 48000.0 * 0.5));

        const auto out = s.rig.channel(0);
        const auto [start, end] = toneSpan(out, 48000.0, 0.5);
        EXPECT_LT(std::abs(start), 48000.0 * 0.01) << "rate " << c.rate << ": starts on time";
        EXPECT_NEAR(end - start, expected, expected * 0.01) << "rate " << c.rate;
        const auto middle =
            out.subspan(std::size_t(start + expected * 0.1), std::size_t(expected * 0.8));
        EXPECT_NEAR(zeroCrossingFrequency(middle, 48000.0), 1000.0, 1.0) << "rate " << c.rate;
        EXPECT_NEAR(rmsDb(middle), rmsDb(sineWave(1000.0, 48000.0, 48000, 0.5)), 0.5)
            << "rate " << c.rate;
    }
}

TEST(TimePitchNode, PullsRateTimesAsManyFramesFromItsInput) {
    EngineRig rig;
    std::atomic<uint64_t> rendered{0};
    auto source = std::make_shared<SourceNode>(
        kStereo48, [&rendered](uint32_t frames, float* const*, uint32_t) {
            rendered += frames;
            return true;
        });
    auto pitch = stretchOnStartedEngine(rig, source);
    rig.pull(48000);
    EXPECT_EQ(rendered.load(), 48000u);
    pitch->setRate(2.0f);
    rig.pull(48000);  // past the stretcher's start
    rendered = 0;
    rig.pull(48000 * 3);
    EXPECT_NEAR(double(rendered.load()), 48000.0 * 6, 48000.0 * 6 * 0.005);
}

TEST(TimePitchNode, RateChangesWhilePlayingKeepTheTone) {
    StretchRig s;
    s.player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 48000 * 6, 0.5), 48000.0));
    s.player->play();
    for (float rate : {1.0f, 1.25f, 0.8f, 1.0f, 2.0f}) {
        s.pitch->setRate(rate);
        const std::size_t from = s.rig.device->captured().empty() ? 0 : s.rig.channel(0).size();
        s.rig.pull(24000);
        const auto part = s.rig.channel(0, from + 4800);
        EXPECT_NEAR(zeroCrossingFrequency(part, 48000.0), 1000.0, 1.0) << "rate " << rate;
        EXPECT_GT(peak(part), 0.4) << "rate " << rate;
    }
}

// Back at rate 1 the sound already inside the stretcher still comes out, joined to what follows
// without a gap or a click, and nothing of the schedule is lost.
TEST(TimePitchNode, BackToRateOneKeepsTheSoundInTheStretcher) {
    for (const float rate : {1.5f, 0.75f, 2.5f}) {
        StretchRig s;
        s.player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 72000, 0.5), 48000.0));
        s.pitch->setRate(rate);
        s.player->play();
        s.rig.pull(24000, 512);
        s.pitch->setRate(1.0f);
        s.rig.pull(72000, 512);

        const auto out = s.rig.channel(0);
        const auto [start, end] = toneSpan(out, 48000.0, 0.5);
        EXPECT_NEAR(end, 24000.0 + (72000.0 - 24000.0 * rate), 48.0 * 25)
            << rate << ": every input frame comes out";
        const auto steady = out.subspan(4800, std::size_t(end) - 4800 - 480);
        double quietest = 1.0;
        for (std::size_t at = 0; at + 48 <= steady.size(); at += 24) {
            quietest = std::min(quietest, rms(steady.subspan(at, 48)));
        }
        EXPECT_GT(quietest, 0.5 / std::sqrt(2.0) * 0.7) << rate << ": no gap";
        // A clean 1 kHz sine of 0.5 changes its slope by at most 0.5 (2π/48)² per sample.
        EXPECT_LT(largestSecondDifference(steady), 0.5 * std::pow(2.0 * M_PI / 48.0, 2.0) * 1.5)
            << rate << ": no click";
    }
}

// Through a stretch the player's time is the place in its schedule of the sample heard.
TEST(TimePitchNode, ThePlayerTimeIsThePositionInTheScheduleOfTheSampleHeard) {
    for (const float rate : {2.0f, 0.5f}) {
        StretchRig s;
        s.player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 48000 * 3, 0.5), 48000.0));
        s.pitch->setRate(rate);
        s.player->play();
        for (const double heard : {0.25, 0.5, 0.75}) {
            s.rig.pull(12000, 512);
            EXPECT_NEAR(*s.player->playerTime(), heard * rate, 0.012)
                << "rate " << rate << " at " << heard;
        }
    }
}

// A change asked for at a clock time within a block takes effect on the frame heard then: the
// input passes through up to that frame and is stretched from it, and the player's time runs
// on from where it was at the new rate.
TEST(TimePitchNode, ARateChangeAtAClockTimeLandsOnItsFrame) {
    EngineRig rig;
    std::vector<uint32_t> pulls;
    auto source =
        std::make_shared<SourceNode>(kStereo48, [&pulls](uint32_t frames, float* const*, uint32_t) {
            pulls.push_back(frames);
            return true;
        });
    auto pitch = stretchOnStartedEngine(rig, source);
    rig.pull(4096);
    pitch->setRate(2.0f, (4096.0 + 1024.0 + 300.0) / 48000.0);  // 300 frames into a block
    rig.pull(1024);
    pulls.clear();
    rig.pull(1024);
    ASSERT_GE(pulls.size(), 2u);
    EXPECT_EQ(pulls[0], 300u) << "passed through up to the frame heard at the clock time";
    EXPECT_EQ(pulls[1], TimePitchNode::kBlockFrames) << "stretched from it";

    StretchRig s;
    s.player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 48000 * 2, 0.5), 48000.0));
    s.player->play();
    constexpr double kSwitch = (12288.0 + 300.0) / 48000.0;
    s.pitch->setRate(2.0f, kSwitch);
    uint32_t pulled = 0;
    for (const double heard : {kSwitch - 0.05, kSwitch + 0.05, kSwitch + 0.2}) {
        const auto to = uint32_t(std::lround(heard * 48000.0)) + 256;
        s.rig.pull(to - pulled, 256);
        pulled = to;
        const double expected = heard < kSwitch ? heard : kSwitch + 2.0 * (heard - kSwitch);
        EXPECT_NEAR(*s.player->playerTime(heard), expected, 0.012) << "heard at " << heard;
    }
}

TEST(TimePitchNode, ClampsTheRateToItsRange) {
    TimePitchNode pitch;
    pitch.setRate(100.0f);
    EXPECT_EQ(pitch.rate(), TimePitchNode::kMaxRate);
    pitch.setRate(0.0f);
    EXPECT_EQ(pitch.rate(), TimePitchNode::kMinRate);
    pitch.setRate(NAN);
    EXPECT_EQ(pitch.rate(), TimePitchNode::kMinRate);
}

// A stretched start whose first input blocks are silent takes over a stretcher the main thread
// ran through that silence ahead of time; one whose first block holds a trace of sound works
// through those blocks on the render thread. Both must come out the same: a spare one block
// out of step, or in another state than the silence leaves, shifts or changes the sound; and
// sound already there at the start must not be taken for silence.
TEST(TimePitchNode, AStartFromSilenceSoundsAsOneWorkedThroughOnTheRenderThread) {
    const auto render = [](float rate, uint32_t kSilentFrames, float trace) {
        EngineRig rig;
        auto source = std::make_shared<SourceNode>(
            kStereo48, [trace, kSilentFrames, frame = uint64_t(0)](
                           uint32_t frames, float* const* out, uint32_t channels) mutable {
                for (uint32_t i = 0; i < frames; ++i, ++frame) {
                    const float s =
                        frame < kSilentFrames
                            ? (frame == 0 ? trace : 0.0f)
                            : float(0.5 * std::sin(2.0 * M_PI * 1000.0 *
                                                   double(frame - kSilentFrames) / 48000.0));
                    for (uint32_t c = 0; c < channels; ++c) {
                        out[c][i] = c == 0 ? s : -s;
                    }
                }
                return true;
            });
        auto pitch = std::make_shared<TimePitchNode>();
        rig.engine.attach(source);
        rig.engine.attach(pitch);
        EXPECT_FALSE(rig.engine.connect(source, pitch, kStereo48));
        EXPECT_FALSE(rig.engine.connect(pitch, rig.engine.mainMixerNode(), kStereo48));
        pitch->setRate(rate);
        EXPECT_FALSE(rig.engine.start());
        rig.pull(uint32_t(kSilentFrames / rate) + 24000, 512);
        const auto out = rig.channel(0);
        return std::vector<float>(out.begin(), out.end());
    };
    // Up to 8 the spare runs through the silence; at 16 it would take too long and is only
    // padded.
    for (const float rate : {0.5f, 1.25f, 2.0f, 8.0f, 16.0f}) {
        const auto fromSilence = render(rate, 48000, 0.0f);
        const auto workedThrough = render(rate, 48000, 1e-6f);
        ASSERT_EQ(fromSilence.size(), workedThrough.size());
        const auto toneAt = std::size_t(48000.0 / rate);
        EXPECT_GT(peak(std::span<const float>(fromSilence).subspan(toneAt + 4800, 4800)), 0.4)
            << "rate " << rate << ": the tone comes out";
        double largest = 0.0;
        for (std::size_t i = 0; i < fromSilence.size(); ++i) {
            largest = std::max(largest, double(std::abs(fromSilence[i] - workedThrough[i])));
        }
        EXPECT_LT(largest, 1e-3) << "rate " << rate;

        const auto atOnce = render(rate, 0, 0.0f);
        EXPECT_GT(rms(std::span<const float>(atOnce).subspan(480, 960)), 0.5 / std::sqrt(2.0) * 0.7)
            << "rate " << rate << ": sound from the first frame is heard from the first block";
    }
}

}  // namespace
}  // namespace kestio::test
