#pragma once

#include <QWidget>
#include <memory>

#include "control/key_binding_store.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio {

class KeyBindingSettingsView;

// The floating "Key Bindings" panel of the application menu's command. Main thread only.
class KeyBindingPanelController {
  public:
    KeyBindingPanelController(KeyBindingStore& store, platform::RunLoop& loop);
    ~KeyBindingPanelController();
    KeyBindingPanelController(const KeyBindingPanelController&) = delete;
    KeyBindingPanelController& operator=(const KeyBindingPanelController&) = delete;

    // The application's controller over the shared binding store, made on first use.
    static KeyBindingPanelController& shared();

    // Hides the panel when it is visible; otherwise shows a new panel (420 × 320 or taller when its
    // texts need it, centred, above the application's windows) with a fresh editor in place of any
    // earlier one.
    void show();

    QWidget* panel() const { return panel_.get(); }
    KeyBindingSettingsView* view() const { return view_; }

  private:
    void retitle();

    KeyBindingStore& store_;
    platform::RunLoop& loop_;
    std::unique_ptr<QWidget> panel_;
    KeyBindingSettingsView* view_ = nullptr;
    platform::Subscription languageSubscription_;
};

}  // namespace kestio
