#pragma once

#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "platform/audio/player_read_ahead.h"

namespace kestio::test {

// Reads a player node's files as the node would, except that once armed it holds up the first
// read that would take frame `from` (of any file) until release(): the node's read-ahead thread
// itself stalls there, and what it read before runs out on the render thread.
class HeldFrameReader final : public platform::audio::FileFrameReader {
  public:
    bool read(platform::audio::AudioFile& file, int64_t at, uint32_t frames,
              platform::audio::PcmBuffer& into, std::string* error) override;

    // Holds the next read that would take frame `from` or a later one.
    void holdFrom(int64_t from);
    // Blocks until a read is held, at most `wallSeconds` of real time, and gives the frame that
    // read begins at (the last frame read ahead is the one before it); empty on time-out.
    std::optional<int64_t> waitUntilHeld(double wallSeconds);
    // Lets the held read (and every later one) go on.
    void release();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t from_ = std::numeric_limits<int64_t>::max();
    bool armed_ = false;
    bool holding_ = false;
    int64_t heldAt_ = 0;
};

}  // namespace kestio::test
