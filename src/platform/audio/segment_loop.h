#pragma once

#include <cstdint>
#include <memory>

#include "platform/runloop/run_loop.h"

namespace kestio::platform::audio {

class AudioFile;
class AudioPlayerNode;

// Repeats one segment of a file on a player node without a gap: passes are kept scheduled a
// few seconds of sound ahead of the one heard, and each pass, once the node has read it ahead,
// has the run loop's thread schedule one more. A seam therefore needs no step of that thread,
// and a late one only shortens the margin.
//
// Used on the run loop's thread. The node's own stop() drops the passes already scheduled;
// stop() here only ends the topping up.
class SegmentLoop {
  public:
    // Seconds of sound kept scheduled ahead (at least two passes): more than a player's
    // read-ahead holds, so a pass is always there when the last one ends.
    static constexpr double kAheadSeconds = 3.0;

    SegmentLoop(RunLoop& loop, std::shared_ptr<AudioPlayerNode> node);
    ~SegmentLoop();
    SegmentLoop(const SegmentLoop&) = delete;
    SegmentLoop& operator=(const SegmentLoop&) = delete;

    // Schedules passes of `frameCount` frames of `file` from `startFrame` after whatever the
    // node has scheduled, and keeps them coming until stop() or the next start(). Nothing is
    // scheduled for an empty segment or without a file.
    void start(std::shared_ptr<AudioFile> file, int64_t startFrame, uint64_t frameCount);
    // No further pass is scheduled (completions of passes scheduled before do nothing).
    void stop();
    bool isActive() const { return active_; }
    // Passes scheduled since the last start().
    uint64_t passesScheduled() const { return passes_; }

  private:
    void schedulePass();

    RunLoop& loop_;
    std::shared_ptr<AudioPlayerNode> node_;
    std::shared_ptr<AudioFile> file_;
    int64_t startFrame_ = 0;
    uint64_t frameCount_ = 0;
    uint64_t generation_ = 0;
    uint64_t passes_ = 0;
    bool active_ = false;
    // Completions posted to the run loop hold this weakly.
    std::shared_ptr<SegmentLoop*> self_ = std::make_shared<SegmentLoop*>(this);
};

}  // namespace kestio::platform::audio
