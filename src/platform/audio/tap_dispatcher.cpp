#include "platform/audio/tap_dispatcher.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kestio::platform::audio {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(4);
}

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
    std::vector<std::shared_ptr<Tap>> snapshot;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kPollInterval, [this] { return stop_; });
            if (stop_) {
                return;
            }
            snapshot = taps_;
        }
        std::lock_guard delivery(deliveryMutex_);
        for (const auto& tap : snapshot) {
            if (!tap->removed) {
                drain(*tap);
            }
        }
        snapshot.clear();
    }
}

void TapDispatcher::drain(Tap& tap) {
    TapRing::BlockHeader header;
    while (!tap.removed && tap.ring->read(header, tap.scratch)) {
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
}

}  // namespace kestio::platform::audio
