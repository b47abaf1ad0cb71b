#pragma once

// The plays the show makes hidden, away from the audience (the warm-up, an import's display
// check), one run at a time. A run is queued and started when its turn comes; while any run is
// under way or waiting, the output stays muted and playback plays in its warming way (hidden, no
// MIDI output notes). Once the last run has ended, the output is put back as it was before the
// first began: warming off and the mute as it was, whatever order the runs were queued and ended
// in.
//
// Main thread only. A run's end hands over the steps that put its output back (clear the
// surface, black, hide the layers); they run while warming is still on unless the run was the
// last, and then between warming off and the mute being restored.

#include <deque>
#include <functional>
#include <memory>

#include "platform/runloop/run_loop.h"

namespace kestio {

class ShowPlayback;

class HiddenPlays {
  public:
    // Ends a run, once; later calls do nothing. `putBack` may be empty.
    using Done = std::function<void(std::function<void()> putBack)>;
    using Run = std::function<void(Done done)>;

    HiddenPlays(platform::RunLoop& loop, ShowPlayback& playback);
    ~HiddenPlays();
    HiddenPlays(const HiddenPlays&) = delete;
    HiddenPlays& operator=(const HiddenPlays&) = delete;

    // Queues `run`: the first of a series mutes the output and turns warming on at once and
    // starts within this call; later ones start on a later turn of the run loop after the run
    // before them has ended.
    void enqueue(Run run);
    // A run is under way or waiting.
    bool isBusy() const { return running_ || !waiting_.empty(); }

  private:
    void startNext();
    void finish(std::function<void()> putBack);

    platform::RunLoop& loop_;
    ShowPlayback& playback_;
    std::deque<Run> waiting_;
    bool running_ = false;
    // The output mute before the first run of the series.
    bool wasMuted_ = false;
    // Counts runs started; a run's done answers only for its own run.
    std::uint64_t started_ = 0;
    std::shared_ptr<HiddenPlays*> alive_ = std::make_shared<HiddenPlays*>(this);
};

}  // namespace kestio
