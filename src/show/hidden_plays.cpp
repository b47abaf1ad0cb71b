#include "show/hidden_plays.h"

#include <utility>

#include "show/show_playback.h"

namespace kestio {

HiddenPlays::HiddenPlays(platform::RunLoop& loop, ShowPlayback& playback)
    : loop_(loop), playback_(playback) {}

HiddenPlays::~HiddenPlays() {
    alive_.reset();
}

void HiddenPlays::enqueue(Run run) {
    waiting_.push_back(std::move(run));
    if (running_) {
        return;
    }
    if (waiting_.size() == 1) {
        // The first of a series: the output is silenced and hidden before any of its plays.
        wasMuted_ = playback_.isMuted().get();
        playback_.isMuted() = true;
        playback_.setWarming(true);
    }
    startNext();
}

void HiddenPlays::startNext() {
    if (running_ || waiting_.empty()) {
        return;
    }
    running_ = true;
    Run run = std::move(waiting_.front());
    waiting_.pop_front();
    const std::uint64_t turn = ++started_;
    std::weak_ptr<HiddenPlays*> weak = alive_;
    run([weak, turn](std::function<void()> putBack) {
        const auto self = weak.lock();
        if (!self || (*self)->started_ != turn || !(*self)->running_) {
            return;
        }
        (*self)->finish(std::move(putBack));
    });
}

void HiddenPlays::finish(std::function<void()> putBack) {
    running_ = false;
    if (!waiting_.empty()) {
        // The next run plays hidden too: its output is put back with warming still on.
        if (putBack) {
            putBack();
        }
        std::weak_ptr<HiddenPlays*> weak = alive_;
        loop_.post([weak] {
            if (const auto self = weak.lock()) {
                (*self)->startNext();
            }
        });
        return;
    }
    playback_.setWarming(false);
    if (putBack) {
        putBack();
    }
    playback_.isMuted() = wasMuted_;
}

}  // namespace kestio
