#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/runloop/published.h"
#include "platform/ui/screen_descriptor.h"

namespace kestio::platform {

// The displays of the machine. QtScreenProvider is the real one; tests use a fake.
class ScreenProvider {
  public:
    virtual ~ScreenProvider() = default;

    // Every display, in the platform's order.
    virtual std::vector<ScreenDescriptor> screens() const = 0;
    // The id of the main (primary) display; 0 when there is no display.
    virtual std::uint32_t mainScreenId() const = 0;
    // Calls `observer` on the run loop's thread, inside the platform's notification, each
    // time a display is added or removed, the main display changes, or a display's geometry,
    // scale or refresh rate changes. Several changes give several calls.
    [[nodiscard]] virtual Subscription onScreensChanged(std::function<void()> observer) = 0;
};

}  // namespace kestio::platform
