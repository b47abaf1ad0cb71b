#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/stream_resampler.h"

namespace kestio::platform::audio {

// Resampler tables that worker threads prepare ahead and the render thread looks up without
// locks. Tables are only ever added, and stay until the set is destroyed.
class ResamplerTableSet {
  public:
    static constexpr std::size_t kCapacity = 32;

    ResamplerTableSet();
    ResamplerTableSet(const ResamplerTableSet&) = delete;
    ResamplerTableSet& operator=(const ResamplerTableSet&) = delete;

    // Any thread. Makes the table for the pair unless it is there; false when it cannot be
    // made (unsupported ratio) or the set is full.
    bool ensure(uint32_t inputRate, uint32_t outputRate);
    // Render thread. The table for the pair, or null.
    const ResamplerTable* find(uint32_t inputRate, uint32_t outputRate) const noexcept;

  private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<const ResamplerTable>> owned_;
    std::array<std::atomic<const ResamplerTable*>, kCapacity> slots_;
    std::atomic<std::size_t> count_{0};
};

}  // namespace kestio::platform::audio
