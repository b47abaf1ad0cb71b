#pragma once

// A slot's colour values, shared between the main thread (which replaces them) and the threads
// that compose its pictures (which read them). A reader always gets one whole set of the eight
// values, never a mixture of an old and a new set.

#include <memory>

#include "model/settings_records.h"
#include "platform/media/atomic_snapshot.h"

namespace kestio::output {

class ColorSettingsBox {
  public:
    ColorSettingsBox();
    explicit ColorSettingsBox(const ColorSettings& value);
    ColorSettingsBox(const ColorSettingsBox&) = delete;
    ColorSettingsBox& operator=(const ColorSettingsBox&) = delete;

    // The current set, as one immutable value.
    std::shared_ptr<const ColorSettings> snapshot() const;
    ColorSettings value() const { return *snapshot(); }
    // Replaces the whole set (main thread).
    void setValue(const ColorSettings& value);

  private:
    platform::media::AtomicSnapshot<const ColorSettings> value_;
};

}  // namespace kestio::output
