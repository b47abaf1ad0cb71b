#include "platform/audio/player_read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include "platform/runloop/console.h"

namespace kestio::platform::audio {

namespace {
constexpr auto kIdleWait = std::chrono::milliseconds(4);
}

PlayerReadAhead::PlayerReadAhead(std::shared_ptr<FileFrameReader> reader)
    : fileReader_(std::move(reader)) {}

void PlayerReadAhead::schedule(Item item) {
    {
        std::lock_guard lock(mutex_);
        if (quit_) {
            return;
        }
        queue_.push_back(std::move(item));
        pending.store(true, std::memory_order_release);
    }
    work_.notify_all();
}

std::vector<PlayerReadAhead::Completion> PlayerReadAhead::stop() {
    std::vector<Completion> pending;
    std::unique_lock lock(mutex_);
    ++epoch_;
    for (auto& item : queue_) {
        if (item.completion) {
            pending.push_back(std::move(item.completion));
        }
    }
    queue_.clear();
    this->pending.store(false, std::memory_order_release);
    lastMark_.reset();
    playing.store(false, std::memory_order_release);
    generation.fetch_add(1, std::memory_order_release);
    flushUpTo.store(ring.writeIndex(), std::memory_order_relaxed);
    endAt.store(UINT64_MAX, std::memory_order_relaxed);
    flushEpoch.fetch_add(1, std::memory_order_release);
    if (std::this_thread::get_id() != runner_) {
        progress_.wait(lock, [this] { return !calling_; });
    }
    lock.unlock();
    work_.notify_all();
    return pending;
}

std::vector<PlayerReadAhead::Completion> PlayerReadAhead::endAfter(uint64_t frames) {
    std::vector<Completion> dropped;
    std::lock_guard lock(mutex_);
    // The schedule since the last stop starts at the ring index the stop flushed up to; frames
    // are written under this lock, so the write index and the front item's progress agree.
    const uint64_t base = flushUpTo.load(std::memory_order_relaxed);
    const uint64_t end = frames > UINT64_MAX - base ? UINT64_MAX : base + frames;
    // The front item may be in the middle of a read (the lock is let go meanwhile) and is only
    // cut; the items after it that lie wholly past the end are a tail of the queue, taken off
    // its back so the front stays where the read-ahead thread holds it.
    uint64_t at = ring.writeIndex();
    std::size_t kept = queue_.size();
    for (std::size_t i = 0; i < queue_.size(); ++i) {
        Item& item = queue_[i];
        const uint64_t itemStart = at - std::min(at, item.done);
        at = itemStart + item.count;
        if (i > 0 && itemStart >= end) {
            kept = i;
            break;
        }
        if (at > end) {
            item.count = std::max(item.done, end - std::min(end, itemStart));
        }
    }
    while (queue_.size() > kept) {
        if (queue_.back().completion) {
            dropped.push_back(std::move(queue_.back().completion));
        }
        queue_.pop_back();
    }
    this->pending.store(!queue_.empty(), std::memory_order_release);
    std::reverse(dropped.begin(), dropped.end());
    endAt.store(end, std::memory_order_release);
    // The front item may now have nothing left to read: its completion is due at once.
    work_.notify_all();
    return dropped;
}

void PlayerReadAhead::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    work_.notify_all();
}

bool PlayerReadAhead::waitUntilPrepared(double wallSeconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(wallSeconds));
    std::unique_lock lock(mutex_);
    for (;;) {
        if ((queue_.empty() && !calling_) || !hasRoomLocked()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        progress_.wait_for(lock, kIdleWait);
    }
}

void PlayerReadAhead::setLinkRate(uint32_t rate) {
    std::lock_guard lock(mutex_);
    if (rate == linkRate_) {
        return;
    }
    linkRate_ = rate;
    for (uint32_t source : sourceRates_) {
        if (source != rate) {
            tables.ensure(source, rate);
        }
    }
}

bool PlayerReadAhead::hasRoomLocked() const {
    return ring.freeFrames() > 0 && !marks.full();
}

void PlayerReadAhead::prepareRateLocked(uint32_t sampleRate) {
    if (std::find(sourceRates_.begin(), sourceRates_.end(), sampleRate) == sourceRates_.end()) {
        sourceRates_.push_back(sampleRate);
    }
    if (linkRate_ != 0 && sampleRate != linkRate_ && !tables.ensure(sampleRate, linkRate_)) {
        Console::log("audio player: no conversion from " + std::to_string(sampleRate) + " Hz to " +
                     std::to_string(linkRate_) + " Hz; the item plays silent");
    }
}

void PlayerReadAhead::run() {
    std::shared_ptr<AudioFile> reader;
    // The state of the file the scheduled items' file was opened on, which `reader` reads for.
    std::optional<FileIdentity> readerServes;
    std::shared_ptr<PcmBuffer> scratch;
    std::unique_lock lock(mutex_);
    runner_ = std::this_thread::get_id();
    while (!quit_) {
        if (queue_.empty()) {
            // Nothing to read until schedule(), stop() or quit(), which change the queue or the
            // quit flag under the lock and then say so.
            work_.wait(lock);
            continue;
        }
        // An item an end has cut to what is already read ahead needs no room to complete.
        const bool readAll = queue_.front().done >= queue_.front().count;
        if (!readAll && !hasRoomLocked()) {
            // The render thread frees room without a word: look again shortly.
            work_.wait_for(lock, kIdleWait);
            continue;
        }
        Item& item = queue_.front();
        const uint64_t epoch = epoch_;
        uint32_t frames = uint32_t(std::min<uint64_t>(
            {uint64_t(kChunkFrames), item.count - item.done, uint64_t(ring.freeFrames())}));
        bool ended = false;
        const float* const* planes = nullptr;
        const float* interleaved = nullptr;
        uint32_t offset = 0;
        AudioFormat format;

        if (item.buffer) {
            format = item.buffer->format();
            const uint64_t at = uint64_t(item.start) + item.done;
            if (format.interleaved) {
                interleaved = item.buffer->interleavedData() + at * format.channelCount;
            } else {
                planes = item.buffer->channels();
                offset = uint32_t(at);
            }
        } else if (item.file && frames > 0) {
            const auto file = item.file;
            const int64_t at = item.start + int64_t(item.done);
            lock.unlock();
            std::string error;
            // A reader is used again for the file it was opened for only: one of the same path
            // opened for an earlier load may be of the file as it was before a new render was
            // copied over it, and would read the new bytes through the old file's index.
            if (!reader || readerServes != file->identity() || reader->path() != file->path() ||
                reader->channelSelection() != file->channelSelection()) {
                reader = file->openAnotherReader(&error);
                readerServes = file->identity();
            }
            bool ok = reader != nullptr;
            if (ok) {
                format = reader->processingFormat();
                if (!scratch || !(scratch->format() == format)) {
                    scratch = PcmBuffer::make(format, kChunkFrames);
                }
                ok = scratch != nullptr;
            }
            if (ok) {
                if (fileReader_) {
                    ok = fileReader_->read(*reader, at, frames, *scratch, &error);
                } else {
                    reader->setFramePosition(at);
                    ok = reader->read(*scratch, frames, &error);
                }
            }
            if (!ok) {
                Console::log("audio player: cannot read " + file->path().string() + ": " + error);
                reader.reset();
            }
            lock.lock();
            if (epoch_ != epoch || quit_) {
                continue;  // stopped meanwhile: the item is gone
            }
            const uint32_t got = ok ? scratch->frameLength() : 0;
            ended = got < frames;
            if (ok && ended) {
                Console::log("audio player: " + file->path().string() + " ends " +
                             std::to_string(item.count - item.done - got) +
                             " frames before the segment scheduled from it");
            }
            frames = got;
            planes = ok ? scratch->channels() : nullptr;
        } else {
            ended = true;
        }

        if (frames > 0) {
            const FormatMark mark{ring.writeIndex(), uint32_t(std::lround(format.sampleRate)),
                                  std::min(format.channelCount, SampleRing::kChannels)};
            if (!lastMark_ || lastMark_->sampleRate != mark.sampleRate ||
                lastMark_->channels != mark.channels) {
                prepareRateLocked(mark.sampleRate);
                marks.push(mark);
                lastMark_ = mark;
            }
            if (interleaved != nullptr) {
                ring.writeInterleaved(interleaved, format.channelCount, mark.channels, frames);
            } else {
                ring.write(planes, mark.channels, frames, offset);
            }
            item.done += frames;
        }
        if (ended || item.done >= item.count) {
            Completion completion = std::move(item.completion);
            queue_.pop_front();
            this->pending.store(!queue_.empty(), std::memory_order_release);
            if (completion) {
                calling_ = true;
                lock.unlock();
                completion();
                lock.lock();
                calling_ = false;
            }
        }
        progress_.notify_all();
    }
}

}  // namespace kestio::platform::audio
