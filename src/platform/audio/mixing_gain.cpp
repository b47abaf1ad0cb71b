#include "platform/audio/mixing_gain.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace kestio::platform::audio {

namespace {

// A gain above one is kept (the mix is float; the device's conversion clips what is over full
// scale); a negative gain or one that is not finite silences.
float clampGain(float value) {
    return std::isfinite(value) ? std::max(value, 0.0f) : 0.0f;
}

uint64_t packStep(uint32_t serial, float value) {
    return (uint64_t(serial) << 32) | std::bit_cast<uint32_t>(value);
}

// The frame of a block, beginning at engine position `blockStart`, that is heard at `time`
// (rounded as a player's start is, so that both land on the same frame).
double frameOf(double time, double blockStart, double rate) {
    return std::round((time - blockStart) * rate);
}

}  // namespace

MixingGain::MixingGain(float initial)
    : target_(clampGain(initial)), step_(packStep(0, clampGain(initial))) {
    current_ = Ramp{-INFINITY, 0.0, clampGain(initial), 0};
    from_ = current_.target;
}

void MixingGain::set(float value) {
    value = clampGain(value);
    target_.store(value, std::memory_order_relaxed);
    step_.store(packStep(++serial_, value), std::memory_order_release);
}

void MixingGain::ramp(float target, double seconds, double atClockTime) {
    target = clampGain(target);
    const Ramp ramp{atClockTime, std::isfinite(seconds) ? std::max(seconds, 0.0) : 0.0, target,
                    serial_ + 1};
    if (!requests_.push(ramp)) {
        set(target);
        return;
    }
    ++serial_;
    target_.store(target, std::memory_order_relaxed);
}

void MixingGain::takeRequests() noexcept {
    // Ramps first, then the step: a ramp seen here was asked for after every step stored before
    // it, so the step read next is at least as new as the ramps taken.
    while (pendingCount_ < kPendingRamps) {
        const Ramp* ramp = requests_.front();
        if (ramp == nullptr) {
            break;
        }
        if (ramp->serial > stepSerial_) {
            // Kept in start order; a ramp "at once" sorts first, and equal starts keep the order
            // they were asked in.
            const double key = std::isnan(ramp->start) ? -INFINITY : ramp->start;
            uint32_t at = pendingCount_;
            while (at > 0 && (std::isnan(pending_[at - 1].start) ? -INFINITY
                                                                 : pending_[at - 1].start) > key) {
                pending_[at] = pending_[at - 1];
                --at;
            }
            pending_[at] = *ramp;
            ++pendingCount_;
        }
        requests_.discardFront();
    }
    const uint64_t step = step_.load(std::memory_order_acquire);
    const auto serial = uint32_t(step >> 32);
    if (serial != stepSerial_) {
        stepSerial_ = serial;
        const float value = std::bit_cast<float>(uint32_t(step));
        current_ = Ramp{-INFINITY, 0.0, value, serial};
        from_ = value;
        const auto kept = std::remove_if(pending_, pending_ + pendingCount_,
                                         [serial](const Ramp& r) { return r.serial < serial; });
        pendingCount_ = uint32_t(kept - pending_);
    }
}

float MixingGain::valueAt(double blockStart, double rate, double at) const noexcept {
    const double first =
        std::isinf(current_.start) ? -INFINITY : frameOf(current_.start, blockStart, rate);
    const double length = current_.seconds * rate;
    if (at < first) {
        return from_;
    }
    if (!(length > 0.0) || at >= first + length) {
        return current_.target;
    }
    const double progress = (at - first) / length;
    return float(double(from_) + (double(current_.target) - double(from_)) * progress);
}

bool MixingGain::render(double start, double rate, uint32_t frames, float* gains,
                        float& constant) noexcept {
    takeRequests();
    if (!(rate > 0.0)) {
        constant = current_.target;
        return true;
    }
    // Where the next waiting ramp begins within this block, or `frames` when it does not.
    const auto nextStart = [&]() -> uint32_t {
        if (pendingCount_ == 0) {
            return frames;
        }
        const double begin = pending_[0].start;
        if (std::isnan(begin)) {
            return 0;
        }
        const double frame = frameOf(begin, start, rate);
        return frame <= 0.0 ? 0u : uint32_t(std::min(frame, double(frames)));
    };

    uint32_t at = 0;
    uint32_t next = nextStart();
    if (next >= frames) {
        // The whole block under one ramp: constant when it has not begun or has ended.
        // (A straight line is constant over the block when its ends are equal.)
        const float head = valueAt(start, rate, 0.0);
        if (head == valueAt(start, rate, double(frames - 1))) {
            constant = head;
            return true;
        }
    }
    for (;;) {
        for (; at < next; ++at) {
            gains[at] = valueAt(start, rate, double(at));
        }
        if (next >= frames) {
            return false;
        }
        // The waiting ramp takes over from the gain at its first frame.
        const Ramp ramp = pending_[0];
        from_ = valueAt(start, rate, double(next));
        std::copy(pending_ + 1, pending_ + pendingCount_, pending_);
        --pendingCount_;
        current_ = ramp;
        if (std::isnan(current_.start)) {
            current_.start = start + double(next) / rate;
        }
        next = std::max(nextStart(), at);
    }
}

}  // namespace kestio::platform::audio
