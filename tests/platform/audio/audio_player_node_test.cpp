#include "platform/audio/audio_player_node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/audio_file.h"
#include "platform/audio/tap_dispatcher.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFile;
using platform::audio::AudioFormat;
using platform::audio::PcmBuffer;

const AudioFormat kStereo48{48000.0, 2, false};

std::vector<float> slice(std::span<const float> samples, std::size_t from, std::size_t count) {
    return {samples.begin() + long(from), samples.begin() + long(from + count)};
}

TEST(AudioPlayerNode, PlaysAToneAtItsFrequencyAndScheduledLevel) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 48000, 0.5), 48000.0));
    player->setVolume(0.5f);
    player->play();
    rig.pull(48000);

    for (uint32_t c = 0; c < 2; ++c) {
        const auto out = rig.channel(c);
        EXPECT_NEAR(zeroCrossingFrequency(out, 48000.0), 1000.0, 0.01);
        EXPECT_NEAR(peak(out), 0.25, 1e-6);
        EXPECT_NEAR(rmsDb(out), 20.0 * std::log10(0.25 / std::sqrt(2.0)), 0.01);
    }
}

TEST(AudioPlayerNode, ConsecutiveBuffersJoinSampleForSample) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    const auto tone = sineWave(1000.0, 48000.0, 30000, 0.8);
    // Pieces of odd lengths, so that joins fall inside render blocks and read-ahead chunks.
    std::size_t at = 0;
    for (std::size_t length : {1u, 777u, 4096u, 5003u, 20123u}) {
        player->scheduleBuffer(bufferOf(slice(tone, at, length), 48000.0));
        at += length;
    }
    player->play();
    rig.pull(uint32_t(at) + 2000, 480);

    const auto out = rig.channel(0);
    ASSERT_EQ(std::vector<float>(out.begin(), out.begin() + long(at)),
              std::vector<float>(tone.begin(), tone.begin() + long(at)));
    EXPECT_EQ(peak(out.subspan(at)), 0.0) << "silence once the schedule has played";
}

TEST(AudioPlayerNode, ConsecutiveFileSegmentsJoinWithoutGapOrClick) {
    const auto folder = std::filesystem::temp_directory_path() / "kestio_player_segments";
    std::filesystem::create_directories(folder);
    const auto path = folder / "tone.caf";
    const auto tone = sineWave(1000.0, 48000.0, 48000, 0.9);
    {
        auto file = AudioFile::openForWriting(path, kStereo48);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->write(*bufferOf(tone, 48000.0)));
    }
    auto file = AudioFile::openForReading(path);
    ASSERT_TRUE(file);

    EngineRig rig;
    auto player = rig.startedPlayer();
    player->scheduleSegment(file, 0, 12345);
    player->scheduleSegment(file, 12345, 20000);
    player->scheduleSegment(file, 32345, 15655);
    player->play();
    rig.pull(48000, 512);

    const auto out = rig.channel(1);
    EXPECT_EQ(std::vector<float>(out.begin(), out.end()), tone);
    EXPECT_LT(largestSecondDifference(out),
              0.9 * std::pow(2.0 * M_PI * 1000.0 / 48000.0, 2) * 1.01);
    std::filesystem::remove_all(folder);
}

TEST(AudioPlayerNode, StopCallsEveryPendingCompletionExactlyOnce) {
    EngineRig rig;
    auto player = rig.startedPlayer();

    constexpr int kItems = 6;
    std::vector<std::atomic<int>> calls(kItems);
    std::mutex orderMutex;
    std::vector<int> order;
    const auto mainThread = std::this_thread::get_id();
    std::atomic<bool> consumedOnMainThread{false};
    // Two short items the read-ahead consumes at once, then long ones it cannot hold.
    for (int i = 0; i < kItems; ++i) {
        const std::size_t frames = i < 2 ? 1000 : 48000;
        player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, frames, 0.1), 48000.0), [&, i] {
            ++calls[i];
            if (i < 2 && std::this_thread::get_id() == mainThread) {
                consumedOnMainThread = true;
            }
            std::lock_guard lock(orderMutex);
            order.push_back(i);
        });
    }
    player->play();
    rig.pull(1024);
    ASSERT_EQ(calls[0].load(), 1) << "consumed items complete as soon as they are read ahead";
    ASSERT_EQ(calls[1].load(), 1);
    EXPECT_FALSE(consumedOnMainThread.load());

    player->stop();
    for (int i = 0; i < kItems; ++i) {
        EXPECT_EQ(calls[i].load(), 1) << "item " << i;
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_FALSE(player->isPlaying());

    // Nothing more is called, and nothing more is heard once the stop's 5 ms fade is over.
    rig.device->clearCaptured();
    player->play();
    rig.pull(48000 * 2);
    for (int i = 0; i < kItems; ++i) {
        EXPECT_EQ(calls[i].load(), 1) << "item " << i;
    }
    EXPECT_EQ(peak(rig.channel(0).subspan(240)), 0.0);
    player->stop();  // a second stop finds nothing to call
    EXPECT_EQ(order.size(), std::size_t(kItems));
}

// The schedule (three items of a second, a ramp whose every sample says its place; the
// read-ahead holds the first and a third of the second) is ended at a frame while playing:
// nothing past it is heard, read ahead or not, the items not yet read ahead that lie wholly
// past it complete at once on the calling thread, every item completes once, and the next
// schedule after a stop plays whole.
TEST(AudioPlayerNode, EndingTheScheduleAtAFrameDropsEverythingPastIt) {
    const struct {
        const char* name;
        uint64_t end;
        uint64_t heard;        // frames of the schedule heard in all
        std::vector<int> cut;  // items whose completions endScheduleAfter runs
    } cases[] = {
        {"inside the first item", 30001, 30001, {2}},
        {"at the first join", 48000, 48000, {2}},
        {"inside the second item, past what is read ahead", 70000, 70000, {2}},
        {"at the second join", 96000, 96000, {2}},
        {"inside the last item", 100000, 100000, {}},
        {"already played past", 500, 1024, {2}},
    };
    constexpr std::size_t kItem = 48000;
    std::vector<float> ramp(3 * kItem);
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = float(i + 1) / float(ramp.size());
    }
    const auto mainThread = std::this_thread::get_id();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineRig rig;
        auto player = rig.startedPlayer();
        std::vector<int> completedHere;
        std::vector<std::atomic<int>> completed(3);
        for (int i = 0; i < 3; ++i) {
            player->scheduleBuffer(bufferOf(slice(ramp, i * kItem, kItem), 48000.0), [&, i] {
                ++completed[i];
                if (std::this_thread::get_id() == mainThread) {
                    completedHere.push_back(i);
                }
            });
        }
        player->play();
        rig.pull(1024);
        player->endScheduleAfter(c.end);
        EXPECT_EQ(completedHere, c.cut);
        rig.pull(uint32_t(ramp.size()), 4096);
        // A completion the read-ahead thread runs may come a moment after the pull returns on a
        // loaded machine; wait for every one, with a generous guard.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline &&
               std::any_of(completed.begin(), completed.end(), [](auto& n) { return n == 0; })) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(completed[i].load(), 1) << "item " << i;
        }
        const auto out = rig.channel(0);
        EXPECT_EQ(slice(out, 0, c.heard), slice(ramp, 0, c.heard));
        EXPECT_EQ(peak(out.subspan(c.heard)), 0.0) << "heard past the end";
        EXPECT_NEAR(*player->playerTime(), double(c.heard) / 48000.0, 1e-9);

        player->stop();
        rig.pull(1024);  // the render thread takes the stop in and frees the ring
        rig.device->clearCaptured();
        player->scheduleBuffer(bufferOf(ramp, 48000.0));
        player->play();
        rig.pull(uint32_t(ramp.size()), 4096);
        EXPECT_EQ(slice(rig.channel(0), 0, ramp.size()), ramp) << "a stop clears the end";
    }
}

// An end at a frame already played while the ring is full: the item being read has nothing
// left to read, so it completes without the render thread freeing any room.
TEST(AudioPlayerNode, AnEndBehindThePlayedFramesCompletesTheItemBeingReadAtOnce) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    std::vector<std::atomic<int>> completed(2);
    for (int i = 0; i < 2; ++i) {
        player->scheduleBuffer(bufferOf(std::vector<float>(48000, 0.25f), 48000.0),
                               [&, i] { ++completed[i]; });
    }
    player->play();
    rig.pull(1024);
    ASSERT_TRUE(player->waitUntilPrepared(20.0));  // the ring is full again
    player->endScheduleAfter(500);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && completed[1] == 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(completed[0].load(), 1);
    EXPECT_EQ(completed[1].load(), 1);
}

TEST(AudioPlayerNode, AfterAStopNewItemsPlayFromTheirStart) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    player->scheduleBuffer(bufferOf(std::vector<float>(96000, 0.5f), 48000.0));
    player->play();
    rig.pull(2048);
    player->stop();
    const auto tone = sineWave(1000.0, 48000.0, 4800, 0.3);
    player->scheduleBuffer(bufferOf(tone, 48000.0));
    player->play();
    rig.device->clearCaptured();
    rig.pull(6000);
    const auto out = rig.channel(0);
    // The stopped sound fades out over the first 5 ms of the new one.
    for (std::size_t i = 0; i < 240; ++i) {
        EXPECT_NEAR(out[i], tone[i] + 0.5f * float(240 - i) / 240.0f, 1e-6) << i;
    }
    EXPECT_EQ(slice(out, 240, tone.size() - 240), slice(tone, 240, tone.size() - 240));
    EXPECT_EQ(peak(out.subspan(tone.size())), 0.0);
}

TEST(AudioPlayerNode, PauseHoldsThePositionAndKeepsTheSchedule) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    const auto tone = sineWave(1000.0, 48000.0, 9000, 0.5);
    player->scheduleBuffer(bufferOf(tone, 48000.0));
    player->play();
    rig.pull(3000, 1000);
    player->pause();
    EXPECT_FALSE(player->isPlaying());
    rig.pull(2000, 1000);
    player->play();
    rig.pull(7000, 1000);

    // The pause lets 5 ms of the tone fade out (see audio_player_fade_test.cpp); the position
    // holds after them.
    const auto out = rig.channel(0);
    EXPECT_EQ(slice(out, 0, 3000), slice(tone, 0, 3000));
    EXPECT_EQ(peak(out.subspan(3240, 1760)), 0.0);
    EXPECT_EQ(slice(out, 5000, 5760), slice(tone, 3240, 5760));
}

TEST(AudioPlayerNode, PlayBeforeTheEngineRunsWaitsForIt) {
    EngineRig rig;
    auto player = rig.makePlayer();
    ASSERT_FALSE(rig.engine.connect(player, rig.engine.mainMixerNode(), kStereo48));
    const auto tone = sineWave(1000.0, 48000.0, 2000, 0.5);
    player->scheduleBuffer(bufferOf(tone, 48000.0));
    player->play();
    EXPECT_TRUE(player->isPlaying());
    rig.pull(1000);  // the engine is stopped: the device pulls nothing
    EXPECT_TRUE(rig.device->captured().empty());
    ASSERT_FALSE(rig.engine.start());
    rig.pull(2000);
    EXPECT_EQ(slice(rig.channel(0), 0, 2000), tone);
}

TEST(AudioPlayerNode, AMonoItemFeedsBothChannelsOfAStereoLink) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    const auto tone = sineWave(1000.0, 48000.0, 4800, 0.4);
    player->scheduleBuffer(bufferOf(tone, 48000.0, 1));
    player->play();
    rig.pull(4800);
    EXPECT_EQ(slice(rig.channel(0), 0, 4800), tone);
    EXPECT_EQ(slice(rig.channel(1), 0, 4800), tone);
}

TEST(AudioPlayerNode, ItemsOfAnotherRateAreResampledToTheLink) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    // One second at 44.1 kHz, then one second at 48 kHz: two seconds at the link's rate.
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 44100.0, 44100, 0.5), 44100.0));
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 48000, 0.5), 48000.0));
    player->play();
    rig.pull(48000 * 2 + 4800);

    const auto out = rig.channel(0);
    EXPECT_NEAR(zeroCrossingFrequency(out.subspan(1000, 46000), 48000.0), 1000.0, 0.05);
    EXPECT_NEAR(toneAmplitude(out.subspan(1000, 46000), 48000.0, 1000.0), 0.5, 0.005);
    const auto [start, end] = toneSpan(out, 48000.0, 0.5);
    EXPECT_NEAR(start, 0.0, 48.0);
    EXPECT_NEAR(end, 96000.0, 48.0);
}

TEST(AudioPlayerNode, KeepsItsPlaceWhenTheLinkFormatChanges) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 48000, 0.5), 48000.0));
    player->play();
    rig.pull(12000);
    // Rewired at 44.1 kHz mono while it plays: the rest of the second still comes out.
    ASSERT_FALSE(
        rig.engine.connect(player, rig.engine.mainMixerNode(), AudioFormat{44100.0, 1, false}));
    EXPECT_EQ(player->outputFormat(0).sampleRate, 44100.0);
    rig.pull(48000);

    const auto out = rig.channel(1);
    const auto [start, end] = toneSpan(out, 48000.0, 0.5);
    EXPECT_NEAR(start, 0.0, 48.0);
    EXPECT_NEAR(end, 48000.0, 96.0) << "the schedule neither restarted nor skipped";
    EXPECT_NEAR(zeroCrossingFrequency(out.subspan(14000, 30000), 48000.0), 1000.0, 0.05);
}

TEST(AudioPlayerNode, VolumeIsAppliedWhereTheChainEntersTheMixer) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    std::mutex mutex;
    std::vector<float> tapped;
    std::condition_variable got;
    ASSERT_FALSE(player->installTap(0, 1024, std::nullopt, [&](const PcmBuffer& buffer) {
        std::lock_guard lock(mutex);
        tapped.insert(tapped.end(), buffer.channel(0), buffer.channel(0) + buffer.frameLength());
        got.notify_all();
    }));
    player->setVolume(0.25f);
    player->scheduleBuffer(bufferOf(std::vector<float>(4096, 0.8f), 48000.0));
    player->play();
    rig.pull(4096);
    EXPECT_FLOAT_EQ(float(peak(rig.channel(0))), 0.2f);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(
        got.wait_for(lock, std::chrono::seconds(20), [&] { return tapped.size() >= 4096; }));
    EXPECT_FLOAT_EQ(float(peak(tapped)), 0.8f) << "the player's own tap is before the volume";
    lock.unlock();
    player->removeTap(0);

    player->setVolume(7.0f);
    EXPECT_EQ(player->volume(), 7.0f) << "a volume above one boosts";
    player->setVolume(-1.0f);
    EXPECT_EQ(player->volume(), 0.0f);
}

TEST(AudioPlayerNode, ASegmentReachingPastTheFileEndsWithTheFile) {
    const auto folder = std::filesystem::temp_directory_path() / "kestio_player_past_end";
    std::filesystem::create_directories(folder);
    const auto path = folder / "short.caf";
    {
        auto file = AudioFile::openForWriting(path, kStereo48);
        ASSERT_TRUE(file->write(*bufferOf(std::vector<float>(1000, 0.5f), 48000.0)));
    }
    EngineRig rig;
    auto player = rig.startedPlayer();
    std::atomic<int> done{0};
    player->scheduleSegment(AudioFile::openForReading(path), 500, 100000, [&] { ++done; });
    player->scheduleBuffer(bufferOf(std::vector<float>(100, -0.25f), 48000.0), [&] { ++done; });
    player->play();
    rig.pull(2048);
    const auto out = rig.channel(0);
    EXPECT_EQ(slice(out, 0, 500), std::vector<float>(500, 0.5f));
    EXPECT_EQ(slice(out, 500, 100), std::vector<float>(100, -0.25f));
    EXPECT_EQ(done.load(), 2);
    std::filesystem::remove_all(folder);
}

TEST(AudioPlayerNode, ACompletionMayScheduleTheNextItem) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    const auto tone = sineWave(1000.0, 48000.0, 4800, 0.5);
    const auto buffer = bufferOf(tone, 48000.0);
    std::atomic<int> passes{0};
    std::function<void()> again = [&] {
        if (++passes < 4) {
            player->scheduleBuffer(buffer, again);
        }
    };
    player->scheduleBuffer(buffer, again);
    player->play();
    rig.pull(4800 * 4 + 1000, 600);
    const auto out = rig.channel(0);
    for (int pass = 0; pass < 4; ++pass) {
        EXPECT_EQ(slice(out, std::size_t(pass) * 4800, 4800), tone) << "pass " << pass;
    }
    EXPECT_EQ(passes.load(), 4);
    player->stop();
}

// A loop that re-arms itself from its completion must not outlive the node that plays it.
TEST(AudioPlayerNode, DestroyingANodeCallsPendingCompletionsAndTakesNoNewItems) {
    std::atomic<int> calls{0};
    {
        EngineRig rig;
        auto player = rig.makePlayer();
        ASSERT_FALSE(rig.engine.connect(player, rig.engine.mainMixerNode(), kStereo48));
        const auto buffer = bufferOf(std::vector<float>(96000, 0.1f), 48000.0);
        std::weak_ptr<platform::audio::AudioPlayerNode> weak = player;
        platform::audio::AudioPlayerNode* raw = player.get();
        std::function<void()> again = [&, raw] {
            ++calls;
            raw->scheduleBuffer(buffer, again);  // reaches a node being destroyed
        };
        // Each longer than the read-ahead holds: both are still pending at the end.
        player->scheduleBuffer(buffer, again);
        player->scheduleBuffer(buffer, again);
        player->play();
        rig.players.clear();
        player.reset();
        rig.engine.detach(weak.lock());
        EXPECT_TRUE(weak.expired());
    }
    EXPECT_EQ(calls.load(), 2) << "each pending item once; the items they scheduled dropped";
}

}  // namespace
}  // namespace kestio::test

namespace kestio::test {
namespace {

// A player started at a clock time: its first frame is the device's frame at that time, within
// a block or not, and its player time counts from there.
TEST(AudioPlayerNode, StartsAtAClockTimeToTheFrame) {
    struct Case {
        uint32_t startFrame;
        uint32_t block;
    };
    for (const Case c : {Case{0, 1024}, Case{700, 1024}, Case{1500, 480}, Case{5000, 4096}}) {
        EngineRig rig;
        auto player = rig.startedPlayer();
        player->scheduleBuffer(bufferOf(std::vector<float>(9600, 0.25f), 48000.0));
        EXPECT_FALSE(player->playerTime()) << "nothing before a play";
        player->play(platform::ClockTime(double(c.startFrame) / 48000.0));
        const uint32_t early = c.startFrame / 2;
        rig.pull(early, c.block);
        EXPECT_EQ(player->playerTime(), 0.0) << c.startFrame << ": not heard yet";
        rig.pull(c.startFrame + 9600 + 1000 - early, c.block);
        const auto out = rig.channel(0);
        EXPECT_EQ(firstAbove(out, 0.0f), c.startFrame) << "block " << c.block;
        EXPECT_EQ(endAbove(out, 0.0f), c.startFrame + 9600) << "block " << c.block;
        for (const uint32_t frame : {c.startFrame + 1, c.startFrame + 4321}) {
            EXPECT_NEAR(*player->playerTime(platform::ClockTime(double(frame) / 48000.0)),
                        double(frame - c.startFrame) / 48000.0, 1e-9)
                << c.startFrame << " at " << frame;
        }
        EXPECT_NEAR(*player->playerTime(), 9600.0 / 48000.0, 1e-9) << "holds at the end";
    }
}

TEST(AudioPlayerNode, PlayerTimeHoldsWhilePausedAndStopClearsIt) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 48000, 0.5), 48000.0));
    player->play();
    rig.pull(3000, 1000);
    player->pause();
    rig.pull(2000, 1000);
    // The position moves on through the pause's 5 ms fade, then holds.
    EXPECT_NEAR(*player->playerTime(), 3240.0 / 48000.0, 1e-9);
    player->play(platform::ClockTime(6000.0 / 48000.0));  // resumes a frame into the next block
    rig.pull(3000, 1000);
    EXPECT_NEAR(*player->playerTime(), 5240.0 / 48000.0, 1e-9);
    EXPECT_NEAR(*player->playerTime(platform::ClockTime(5500.0 / 48000.0)), 3240.0 / 48000.0, 1e-9);
    player->stop();
    EXPECT_FALSE(player->playerTime());
}

}  // namespace
}  // namespace kestio::test
