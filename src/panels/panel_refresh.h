#pragma once

#include <functional>
#include <vector>

#include "panels/panel_facade.h"
#include "platform/runloop/published.h"

namespace kestio::panels {

// Subscribes `refresh` to what every panel of the loaded slot shows: the project (its revision)
// and the loaded bank and slot indices; then to each of `more`. The subscriptions go to `into`.
template <class... T>
void refreshOnLoadedSlot(std::vector<platform::Subscription>& into, PanelFacade& facade,
                         const std::function<void()>& refresh, platform::Published<T>&... more) {
    const auto follow = [&into, &refresh](auto& published) {
        into.push_back(published.subscribe([refresh](const auto&) { refresh(); }));
    };
    follow(facade.projectRevision());
    follow(facade.playback().currentBankIndex());
    follow(facade.playback().currentSlotIndex());
    (follow(more), ...);
}

}  // namespace kestio::panels
