#include "platform/audio/tap_dispatcher.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kestio::platform::audio {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(4);
// Once no ring has had a block for this many looks (silence, or no taps), the thread looks
// only every kQuietPollInterval: the first block of new sound waits that long at most.
constexpr int kLooksBeforeQuiet = 50;
constexpr auto kQuietPollInterval = std::chrono::milliseconds(20);
}  // namespace

TapDispatcher::TapDispatcher() : thread_([this] { run(); }) {}

TapDispatcher::~TapDispatcher() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::shared_ptr<TapRing> TapDispatcher::add(uint32_t blockFrames, TapBlock block) {
    auto tap = std::make_shared<Tap>();
    tap->ring = std::make_shared<TapRing>();
    tap->blockFrames = std::max<uint32_t>(blockFrames, 1);
    tap->block = std::move(block);
    {
        std::lock_guard lock(mutex_);
        taps_.push_back(tap);
    }
    return tap->ring;
}

void TapDispatcher::remove(const TapRing* ring) {
    std::shared_ptr<Tap> tap;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(taps_.begin(), taps_.end(),
                               [ring](const auto& t) { return t->ring.get() == ring; });
        if (it == taps_.end()) {
            return;
        }
        tap = *it;
        taps_.erase(it);
    }
    if (std::this_thread::get_id() == thread_.get_id()) {
        tap->removed = true;  // the tap thread already holds the delivery lock
        return;
    }
    std::lock_guard delivery(deliveryMutex_);
    tap->removed = true;
}

void TapDispatcher::run() {
    pthread_setname_np(pthread_self(), "audio taps");
    std::vector<std::shared_ptr<Tap>> snapshot;
    int emptyLooks = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            const auto interval =
                emptyLooks >= kLooksBeforeQuiet ? kQuietPollInterval : kPollInterval;
            wake_.wait_for(lock, interval, [this] { return stop_; });
            if (stop_) {
                return;
            }
            snapshot = taps_;
        }
        std::lock_guard delivery(deliveryMutex_);
        bool read = false;
        for (const auto& tap : snapshot) {
            if (!tap->removed) {
                read = drain(*tap) || read;
            }
        }
        emptyLooks = read ? 0 : std::min(emptyLooks + 1, kLooksBeforeQuiet);
        snapshot.clear();
    }
}

bool TapDispatcher::drain(Tap& tap) {
    TapRing::BlockHeader header;
    bool read = false;
    while (!tap.removed && tap.ring->read(header, tap.scratch)) {
        read = true;
        if (tap.ring->takeGap()) {
            tap.filled = 0;
        }
        const bool sameFormat = tap.pending &&
                                tap.pending->format().sampleRate == header.sampleRate &&
                                tap.pending->format().channelCount == header.channels;
        if (!sameFormat) {
            const auto format = AudioFormat::make(header.sampleRate, header.channels);
            tap.pending = format ? PcmBuffer::make(*format, tap.blockFrames) : nullptr;
            tap.filled = 0;
            if (!tap.pending) {
                continue;
            }
        }
        if (header.silent) {
            // The sound stopped: the block it stopped in goes out filled up with zeros, and one
            // block of zeros after it, so that the newest block says silence; then nothing
            // until the sound starts again.
            for (const bool stoppedIn : {true, false}) {
                if (tap.removed || (stoppedIn && tap.filled == 0)) {
                    continue;
                }
                for (uint32_t c = 0; c < header.channels; ++c) {
                    std::fill(tap.pending->channel(c) + tap.filled,
                              tap.pending->channel(c) + tap.blockFrames, 0.0f);
                }
                tap.pending->setFrameLength(tap.blockFrames);
                tap.block(*tap.pending);
                tap.filled = 0;
            }
            continue;
        }
        uint32_t offset = 0;
        while (offset < header.frames && !tap.removed) {
            const uint32_t n = std::min(header.frames - offset, tap.blockFrames - tap.filled);
            for (uint32_t c = 0; c < header.channels; ++c) {
                std::memcpy(tap.pending->channel(c) + tap.filled,
                            tap.scratch.data() + std::size_t(c) * header.frames + offset,
                            n * sizeof(float));
            }
            tap.filled += n;
            offset += n;
            if (tap.filled == tap.blockFrames) {
                tap.pending->setFrameLength(tap.blockFrames);
                tap.block(*tap.pending);
                tap.filled = 0;
            }
        }
    }
    return read;
}

}  // namespace kestio::platform::audio
