#include "playback/vu_meter.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/pcm_buffer.h"

namespace kestio {

bool VuReading::isSilent() const {
    return std::all_of(levels.begin(), levels.end(), [](float db) { return db < kSilentBelowDb; });
}

float blockLevelDb(const float* samples, std::size_t count, bool peak) {
    if (samples == nullptr || count == 0) {
        return VuReading::kSilenceDb;
    }
    float x = 0.0f;
    if (peak) {
        for (std::size_t i = 0; i < count; ++i) {
            x = std::max(x, std::fabs(samples[i]));
        }
    } else {
        double sum = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            sum += double(samples[i]) * double(samples[i]);
        }
        x = float(std::sqrt(sum / double(count)));
    }
    if (!(x > 0.0f) || !std::isfinite(x)) {
        return VuReading::kSilenceDb;
    }
    return std::max(20.0f * std::log10(x), VuReading::kSilenceDb);
}

VuMeter::VuMeter() {
    for (auto& level : spanMax_) {
        level.store(kNone, std::memory_order_relaxed);
    }
}

bool VuMeter::measure(const platform::audio::PcmBuffer& buffer) {
    if (buffer.interleavedData() != nullptr || buffer.channels() == nullptr) {
        return false;
    }
    return measure(buffer.channels(), buffer.channelCount(), buffer.frameLength());
}

bool VuMeter::measure(const float* const* channels, uint32_t channelCount, uint32_t frames) {
    if (channels == nullptr || channelCount == 0) {
        return false;
    }
    const bool peak = isPeak();
    const uint32_t count = std::min<uint32_t>(channelCount, VuReading::kChannels);
    for (uint32_t c = 0; c < count; ++c) {
        const float db = blockLevelDb(channels[c], frames, peak);
        auto& slot = spanMax_[c];
        float seen = slot.load(std::memory_order_relaxed);
        while (db > seen && !slot.compare_exchange_weak(seen, db, std::memory_order_relaxed)) {
        }
    }
    channelCount_.store(int(count), std::memory_order_relaxed);
    // Sequentially consistent with sleep(): the count is up before the reader's state is read.
    measured_.fetch_add(1, std::memory_order_seq_cst);
    return asleep_.exchange(false, std::memory_order_seq_cst);
}

bool VuMeter::sleep() {
    asleep_.store(true, std::memory_order_seq_cst);
    if (measured_.load(std::memory_order_seq_cst) != takenAt_) {
        asleep_.store(false, std::memory_order_relaxed);
        return false;
    }
    return true;
}

std::optional<VuReading> VuMeter::take() {
    const uint64_t measured = measured_.load(std::memory_order_acquire);
    if (measured == takenAt_) {
        return std::nullopt;
    }
    takenAt_ = measured;
    VuReading reading;
    reading.channelCount = channelCount_.load(std::memory_order_relaxed);
    bool levels = false;
    for (std::size_t c = 0; c < VuReading::kChannels; ++c) {
        const float db = spanMax_[c].exchange(kNone, std::memory_order_relaxed);
        levels = levels || db > kNone;
        const bool measuredChannel = int(c) < reading.channelCount;
        reading.levels[c] = measuredChannel && db > kNone ? db : VuReading::kSilenceDb;
    }
    // A measurement counted after the last take had already put its levels into that take:
    // there is nothing new to show (rather than a false silence).
    if (!levels) {
        return std::nullopt;
    }
    return reading;
}

void VuMeter::reset() {
    for (auto& level : spanMax_) {
        level.store(kNone, std::memory_order_relaxed);
    }
    takenAt_ = measured_.load(std::memory_order_acquire);
}

}  // namespace kestio
