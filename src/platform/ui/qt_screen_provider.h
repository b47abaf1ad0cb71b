#pragma once

#include <QScreen>
#include <memory>
#include <vector>

#include "platform/ui/screen_provider.h"

namespace kestio::platform {

// The displays as Qt's QGuiApplication and QScreen report them. Create it on the GUI thread
// after the application object.
class QtScreenProvider final : public ScreenProvider {
  public:
    QtScreenProvider();
    ~QtScreenProvider() override;

    std::vector<ScreenDescriptor> screens() const override;
    std::uint32_t mainScreenId() const override;
    [[nodiscard]] Subscription onScreensChanged(std::function<void()> observer) override;

    // The connected screen with this id, or null.
    static QScreen* findScreen(std::uint32_t id);

  private:
    // The descriptions of QGuiApplication::screens(), in that order, with their ids.
    static std::vector<ScreenDescriptor> describeAll();

    void watch(QScreen* screen);
    void changed() { changes_.set(changes_.get() + 1); }

    std::unique_ptr<QObject> context_;  // owns the signal connections
    std::vector<QScreen*> watched_;
    Published<std::uint64_t> changes_{0};
};

}  // namespace kestio::platform
