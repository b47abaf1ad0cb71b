#pragma once

// Helpers for tests that play real files on a ManualRunLoop: waiting for decode threads
// (never for time), stepping the clock once pictures are decoded, and broken files.

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>

#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_item.h"
#include "platform/media/decoded_queue_player.h"
#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform::media::testing {

// Runs posted work until `done` holds; false when `wallSeconds` pass first.
bool runUntil(ManualRunLoop& loop, const std::function<bool()>& done, double wallSeconds = 30.0);

// Runs posted work until the item is ready or failed.
bool waitForStatus(ManualRunLoop& loop, PlayerItem& item);

// Runs posted work until the item has decoded its pictures through `itemTime` (or to its end).
bool waitForDecoded(ManualRunLoop& loop, DecodedPlayerItem& item, double itemTime);

// Whether the item has its pictures decoded a tenth of a second ahead of its current time (or
// to its end). An item not yet ready shows nothing and counts as ahead. Reads without running
// the run loop.
bool decodedAhead(const DecodedPlayerItem& item);

// Waits on real time, never running the run loop (which the test may be holding), until the
// decoded items among the first two of each player are decoded ahead; false when `wallSeconds`
// pass first.
bool waitForDecodedAhead(std::initializer_list<const QueuePlayer*> players,
                         double wallSeconds = 20.0);

// Moves the clock by `seconds`, in steps of at most a display tick, each taken once the
// player's current item (and the next queued one, when the current one ends within the step)
// has decoded what the step will show.
void advanceDecoded(ManualRunLoop& loop, QueuePlayer& player, double seconds);

// A player with one item for `path`, ready (or failed) and paused at its start.
struct LoadedPlayer {
    std::shared_ptr<DecodedQueuePlayer> player;
    std::shared_ptr<DecodedPlayerItem> item;
};
LoadedPlayer loadPlayer(ManualRunLoop& loop, const std::filesystem::path& path);

// Files that are not playable media, made in `folder`: empty, plain text with a video
// extension, random bytes, and the first part of `clip` (cut before its index).
struct BrokenFiles {
    std::filesystem::path empty;
    std::filesystem::path text;
    std::filesystem::path noise;
    std::filesystem::path truncated;
};
BrokenFiles makeBrokenFiles(const std::filesystem::path& folder, const std::filesystem::path& clip);

}  // namespace kestio::platform::media::testing
