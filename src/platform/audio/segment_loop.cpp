#include "platform/audio/segment_loop.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/audio_file.h"
#include "platform/audio/audio_player_node.h"

namespace kestio::platform::audio {

SegmentLoop::SegmentLoop(RunLoop& loop, std::shared_ptr<AudioPlayerNode> node)
    : loop_(loop), node_(std::move(node)) {}

SegmentLoop::~SegmentLoop() {
    self_.reset();
}

void SegmentLoop::start(std::shared_ptr<AudioFile> file, int64_t startFrame, uint64_t frameCount) {
    stop();
    if (!file || frameCount == 0) {
        return;
    }
    file_ = std::move(file);
    startFrame_ = startFrame;
    frameCount_ = frameCount;
    passes_ = 0;
    active_ = true;
    const double passSeconds = double(frameCount_) / file_->processingFormat().sampleRate;
    const int passes = std::max(2, int(std::ceil(kAheadSeconds / passSeconds)));
    for (int i = 0; i < passes; ++i) {
        schedulePass();
    }
}

void SegmentLoop::stop() {
    ++generation_;
    active_ = false;
}

void SegmentLoop::schedulePass() {
    std::weak_ptr<SegmentLoop*> weak = self_;
    RunLoop* loop = &loop_;
    const uint64_t generation = generation_;
    ++passes_;
    // The completion runs on the read-ahead thread once the pass is read ahead (or on the
    // node's stop()); the next pass is scheduled from the run loop's thread, long before it
    // is due.
    node_->scheduleSegment(file_, startFrame_, frameCount_, [weak, loop, generation] {
        loop->post([weak, generation] {
            if (const auto self = weak.lock(); self && (*self)->generation_ == generation) {
                (*self)->schedulePass();
            }
        });
    });
}

}  // namespace kestio::platform::audio
