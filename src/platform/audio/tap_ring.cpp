#include "platform/audio/tap_ring.h"

#include <algorithm>
#include <cstring>

namespace kestio::platform::audio {

TapRing::TapRing(std::size_t capacityBytes)
    : capacity_(capacityBytes), bytes_(std::make_unique<unsigned char[]>(capacityBytes)) {}

void TapRing::copyIn(std::size_t at, const void* from, std::size_t bytes) noexcept {
    const std::size_t offset = at % capacity_;
    const std::size_t first = std::min(bytes, capacity_ - offset);
    std::memcpy(bytes_.get() + offset, from, first);
    if (first < bytes) {
        std::memcpy(bytes_.get(), static_cast<const unsigned char*>(from) + first, bytes - first);
    }
}

void TapRing::copyOut(std::size_t at, void* to, std::size_t bytes) const {
    const std::size_t offset = at % capacity_;
    const std::size_t first = std::min(bytes, capacity_ - offset);
    std::memcpy(to, bytes_.get() + offset, first);
    if (first < bytes) {
        std::memcpy(static_cast<unsigned char*>(to) + first, bytes_.get(), bytes - first);
    }
}

void TapRing::write(const float* const* channels, uint32_t channelCount, uint32_t frames,
                    double sampleRate) noexcept {
    if (frames == 0 || channelCount == 0) {
        return;
    }
    inSilence_ = false;
    put(BlockHeader{frames, channelCount, sampleRate, false}, channels);
}

void TapRing::writeSilence(uint32_t channelCount, uint32_t frames, double sampleRate) noexcept {
    if (frames == 0 || channelCount == 0 || inSilence_) {
        return;
    }
    // A silent block that finds no room is tried again with the next one.
    inSilence_ = put(BlockHeader{frames, channelCount, sampleRate, true}, nullptr);
}

bool TapRing::put(const BlockHeader& header, const float* const* channels) noexcept {
    const std::size_t payload =
        header.silent ? 0 : std::size_t(header.frames) * header.channels * sizeof(float);
    const std::size_t needed = sizeof(BlockHeader) + payload;
    const std::size_t write = writeIndex_.load(std::memory_order_relaxed);
    const std::size_t read = readIndex_.load(std::memory_order_acquire);
    if (capacity_ - (write - read) < needed) {
        gap_.store(true, std::memory_order_release);
        return false;
    }
    copyIn(write, &header, sizeof header);
    std::size_t at = write + sizeof header;
    for (uint32_t c = 0; c < header.channels && !header.silent; ++c) {
        copyIn(at, channels[c], std::size_t(header.frames) * sizeof(float));
        at += std::size_t(header.frames) * sizeof(float);
    }
    writeIndex_.store(write + needed, std::memory_order_release);
    return true;
}

bool TapRing::read(BlockHeader& header, std::vector<float>& samples) {
    const std::size_t read = readIndex_.load(std::memory_order_relaxed);
    const std::size_t write = writeIndex_.load(std::memory_order_acquire);
    if (write == read) {
        return false;
    }
    copyOut(read, &header, sizeof header);
    const std::size_t count = header.silent ? 0 : std::size_t(header.frames) * header.channels;
    samples.resize(count);
    if (count > 0) {
        copyOut(read + sizeof header, samples.data(), count * sizeof(float));
    }
    readIndex_.store(read + sizeof header + count * sizeof(float), std::memory_order_release);
    return true;
}

}  // namespace kestio::platform::audio
