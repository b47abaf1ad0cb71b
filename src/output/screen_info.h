#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/graphics/geometry.h"
#include "platform/ui/screen_descriptor.h"

namespace kestio::output {

// One display that can take the program output.
struct ScreenInfo {
    std::uint32_t id = 0;  // the display's stable id (a hash of its connector name)
    std::string name;
    platform::SizeF nativeSize;    // the display's frame, in points
    double backingScale = 1.0;     // device pixels per point
    platform::SizeF physicalSize;  // nativeSize × backingScale, in pixels
    double refreshRate = 0.0;      // Hz of the current mode; 0 when it cannot be read

    bool operator==(const ScreenInfo&) const = default;

    // "1920×1080": the size in points, fractions dropped, joined by U+00D7.
    std::string resolutionLabel() const;

    // The description of a display as the platform lists it.
    static ScreenInfo fromDescriptor(const platform::ScreenDescriptor& screen);
};

}  // namespace kestio::output
