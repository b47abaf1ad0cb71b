#include "playback_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace kestio::platform::media::testing {

bool runUntil(ManualRunLoop& loop, const std::function<bool()>& done, double wallSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(wallSeconds);
    loop.runPending();
    while (!done()) {
        const double remaining = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (remaining <= 0.0) {
            return false;
        }
        loop.waitForPosted(remaining);
    }
    return true;
}

bool waitForStatus(ManualRunLoop& loop, PlayerItem& item) {
    return runUntil(loop, [&] { return item.statusValue() != ItemStatus::Unknown; });
}

namespace {

double endOf(const PlayerItem& item) {
    double end = item.duration();
    if (std::isfinite(item.forwardPlaybackEndTime())) {
        end = std::isfinite(end) ? std::min(end, item.forwardPlaybackEndTime())
                                 : item.forwardPlaybackEndTime();
    }
    return end;
}

bool decodedThrough(const DecodedPlayerItem& item, double itemTime) {
    if (item.statusValue() == ItemStatus::Failed) {
        return true;
    }
    if (item.statusValue() != ItemStatus::ReadyToPlay) {
        return false;
    }
    const double end = endOf(item);
    const double target = std::isfinite(end) ? std::min(itemTime, end) : itemTime;
    const auto ranges = item.loadedTimeRanges();
    if (!ranges.empty()) {
        return ranges.front().end() >= target - 1e-9;
    }
    return target <= item.currentTime() + 1e-9 && !item.frameAt(item.currentTime()).isNull();
}

}  // namespace

bool waitForDecoded(ManualRunLoop& loop, DecodedPlayerItem& item, double itemTime) {
    return runUntil(loop, [&] { return decodedThrough(item, itemTime); });
}

bool decodedAhead(const DecodedPlayerItem& item) {
    if (item.statusValue() != ItemStatus::ReadyToPlay) {
        return true;
    }
    const double want = std::min(item.currentTime() + 0.1, endOf(item) - 1e-6);
    const auto ranges = item.loadedTimeRanges();
    return ranges.empty() ? item.currentTime() >= want - 1e-9 : ranges.front().end() >= want;
}

bool waitForDecodedAhead(std::initializer_list<const QueuePlayer*> players, double wallSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(wallSeconds);
    const auto ahead = [&] {
        for (const QueuePlayer* player : players) {
            const auto items = player->items();
            for (std::size_t i = 0; i < std::min<std::size_t>(2, items.size()); ++i) {
                const auto* item = dynamic_cast<const DecodedPlayerItem*>(items[i].get());
                if (item != nullptr && !decodedAhead(*item)) {
                    return false;
                }
            }
        }
        return true;
    };
    while (!ahead()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

void advanceDecoded(ManualRunLoop& loop, QueuePlayer& player, double seconds) {
    // Steps no longer than a display tick, so the pictures they show fit in the decoded queue.
    constexpr double kStep = 1.0 / 60.0;
    while (seconds > 0.0) {
        const double step = std::min(seconds, kStep);
        if (auto item = std::dynamic_pointer_cast<DecodedPlayerItem>(player.current())) {
            const double rate = player.rateValue();
            const double target = item->currentTime() + rate * step;
            ASSERT_TRUE(waitForDecoded(loop, *item, target)) << "decoding did not keep up";
            const auto queue = player.items();
            const double end = endOf(*item);
            if (queue.size() >= 2 && std::isfinite(end) && target >= end - 1e-9) {
                auto& next = dynamic_cast<DecodedPlayerItem&>(*queue[1]);
                ASSERT_TRUE(waitForDecoded(loop, next, next.currentTime() + rate * step))
                    << "the next item is not decoded";
            }
        }
        loop.advance(step);
        seconds -= step;
    }
}

LoadedPlayer loadPlayer(ManualRunLoop& loop, const std::filesystem::path& path) {
    LoadedPlayer loaded;
    loaded.player = DecodedQueuePlayer::make(loop);
    loaded.item = DecodedPlayerItem::make(DecodedAsset::make(loop, path));
    loaded.player->insert(loaded.item);
    EXPECT_TRUE(waitForStatus(loop, *loaded.item)) << path;
    return loaded;
}

BrokenFiles makeBrokenFiles(const std::filesystem::path& folder,
                            const std::filesystem::path& clip) {
    std::filesystem::create_directories(folder);
    BrokenFiles files{folder / "empty.mp4", folder / "text.mov", folder / "noise.mp4",
                      folder / "truncated.mp4"};
    std::ofstream(files.empty, std::ios::binary).flush();
    std::ofstream(files.text) << "This is a list of cues, not a movie.\n";
    {
        std::mt19937 random(1234);
        std::ofstream out(files.noise, std::ios::binary);
        for (int i = 0; i < 64 * 1024; ++i) {
            out.put(static_cast<char>(random() & 0xFF));
        }
    }
    {
        std::ifstream in(clip, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream out(files.truncated, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 3));
    }
    return files;
}

}  // namespace kestio::platform::media::testing
