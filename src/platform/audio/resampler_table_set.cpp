#include "platform/audio/resampler_table_set.h"

namespace kestio::platform::audio {

ResamplerTableSet::ResamplerTableSet() {
    for (auto& slot : slots_) {
        slot.store(nullptr, std::memory_order_relaxed);
    }
}

bool ResamplerTableSet::ensure(uint32_t inputRate, uint32_t outputRate) {
    if (find(inputRate, outputRate) != nullptr) {
        return true;
    }
    std::lock_guard lock(mutex_);
    if (find(inputRate, outputRate) != nullptr) {
        return true;
    }
    const std::size_t count = count_.load(std::memory_order_relaxed);
    if (count == kCapacity) {
        return false;
    }
    auto table = ResamplerTable::make(inputRate, outputRate);
    if (!table) {
        return false;
    }
    slots_[count].store(table.get(), std::memory_order_release);
    owned_.push_back(std::move(table));
    count_.store(count + 1, std::memory_order_release);
    return true;
}

const ResamplerTable* ResamplerTableSet::find(uint32_t inputRate,
                                              uint32_t outputRate) const noexcept {
    const std::size_t count = count_.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < count; ++i) {
        const ResamplerTable* table = slots_[i].load(std::memory_order_acquire);
        if (table != nullptr && table->inputRate() == inputRate &&
            table->outputRate() == outputRate) {
            return table;
        }
    }
    return nullptr;
}

}  // namespace kestio::platform::audio
