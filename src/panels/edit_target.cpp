#include "panels/edit_target.h"

#include "panels/panel_facade.h"

namespace kestio::panels {

void EditTarget::retarget(const std::function<void()>& leaving) {
    const auto loaded = loadedSlot(facade_);
    const std::optional<Indices> next =
        loaded ? std::optional(Indices{loaded->bank, loaded->slot}) : std::nullopt;
    if (next != aimed_) {
        leaving();
        aimed_ = next;
    }
}

const SlotData* EditTarget::slot() const {
    if (!aimed_) {
        return nullptr;
    }
    const auto& banks = facade_.project().banks;
    if (aimed_->bank < 0 || static_cast<std::size_t>(aimed_->bank) >= banks.size()) {
        return nullptr;
    }
    const auto& slots = banks[static_cast<std::size_t>(aimed_->bank)].slots;
    if (aimed_->slot < 0 || static_cast<std::size_t>(aimed_->slot) >= slots.size()) {
        return nullptr;
    }
    return &slots[static_cast<std::size_t>(aimed_->slot)];
}

bool EditTarget::write(const std::function<void(SlotData&)>& edit) const {
    return aimed_ && facade_.editSlot(aimed_->bank, aimed_->slot, edit);
}

}  // namespace kestio::panels
