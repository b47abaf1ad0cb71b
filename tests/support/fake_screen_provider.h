#pragma once

// A screen list the test sets up, with a change signal the test fires.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/screen_ids.h"
#include "platform/ui/screen_provider.h"

namespace kestio::test {

class FakeScreenProvider final : public platform::ScreenProvider {
  public:
    // In platform order; screens() numbers them as the platform does (assignScreenIds), so the
    // ids given here are replaced.
    std::vector<platform::ScreenDescriptor> list;
    std::uint32_t mainId = 0;

    std::vector<platform::ScreenDescriptor> screens() const override {
        std::vector<platform::ScreenDescriptor> numbered = list;
        platform::assignScreenIds(numbered);
        return numbered;
    }
    std::uint32_t mainScreenId() const override { return mainId; }
    [[nodiscard]] platform::Subscription onScreensChanged(std::function<void()> observer) override {
        return changes_.subscribe([fn = std::move(observer)](int) { fn(); });
    }

    // Tells the observers that the screens changed, as the platform would.
    void announceChange() { changes_.set(changes_.get() + 1); }
    std::size_t observerCount() const { return changes_.subscriberCount(); }

    // A screen as Qt would describe one on `connector`.
    static platform::ScreenDescriptor screen(const std::string& connector, QRect geometry,
                                             double scale = 1.0, double refreshRate = 60.0,
                                             const std::string& model = {}) {
        platform::ScreenDescriptor d;
        d.id = platform::screenIdForName(connector);
        d.connector = connector;
        d.name = model.empty() ? connector : model;
        d.geometry = geometry;
        d.scale = scale;
        d.refreshRate = refreshRate;
        return d;
    }

  private:
    platform::Published<int> changes_{0};
};

}  // namespace kestio::test
