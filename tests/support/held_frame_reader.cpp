#include "support/held_frame_reader.h"

#include <chrono>

#include "platform/audio/audio_file.h"

namespace kestio::test {

bool HeldFrameReader::read(platform::audio::AudioFile& file, int64_t at, uint32_t frames,
                           platform::audio::PcmBuffer& into, std::string* error) {
    {
        std::unique_lock lock(mutex_);
        if (armed_ && at + int64_t(frames) > from_) {
            heldAt_ = at;
            holding_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return !armed_; });
            holding_ = false;
            changed_.notify_all();
        }
    }
    file.setFramePosition(at);
    return file.read(into, frames, error);
}

void HeldFrameReader::holdFrom(int64_t from) {
    std::lock_guard lock(mutex_);
    from_ = from;
    armed_ = true;
}

std::optional<int64_t> HeldFrameReader::waitUntilHeld(double wallSeconds) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::duration<double>(wallSeconds),
                           [&] { return holding_; })) {
        return std::nullopt;
    }
    return heldAt_;
}

void HeldFrameReader::release() {
    std::unique_lock lock(mutex_);
    armed_ = false;
    changed_.notify_all();
    // Until the held read goes on: from then on waitUntilHeld() no longer answers for it, so a
    // test that waits for the read-ahead waits for it to catch up, however loaded the machine.
    changed_.wait(lock, [&] { return !holding_; });
}

}  // namespace kestio::test
