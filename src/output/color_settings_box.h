#pragma once

// A slot's colour values, shared between the main thread (which replaces them) and any thread
// that reads them. A reader always gets one whole set of the eight values, never a mixture of
// an old and a new set, and never waits on a writer's work. The main thread can also follow
// the changes (the colour compositor does, to put each new set on the player).

#include <functional>
#include <memory>

#include "model/settings_records.h"
#include "platform/media/atomic_snapshot.h"
#include "platform/runloop/published.h"

namespace kestio::output {

class ColorSettingsBox {
  public:
    ColorSettingsBox();
    explicit ColorSettingsBox(const ColorSettings& value);
    ColorSettingsBox(const ColorSettingsBox&) = delete;
    ColorSettingsBox& operator=(const ColorSettingsBox&) = delete;

    // The current set, as one immutable value. Any thread.
    std::shared_ptr<const ColorSettings> snapshot() const { return value_.load(); }
    ColorSettings value() const { return *snapshot(); }

    // Replaces the whole set and tells the observers (main thread). Setting the values the box
    // already holds changes nothing and tells no one.
    void setValue(const ColorSettings& value);

    // Calls `observer` with each new set (main thread) until the subscription ends.
    [[nodiscard]] platform::Subscription onChange(
        std::function<void(const ColorSettings&)> observer);

  private:
    platform::media::AtomicSnapshot<const ColorSettings> value_;
    platform::Published<ColorSettings> changes_;
};

}  // namespace kestio::output
