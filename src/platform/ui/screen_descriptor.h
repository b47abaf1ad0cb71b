#pragma once

#include <QRect>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestio::platform {

// One display as the platform lists it.
struct ScreenDescriptor {
    // Unique among the displays connected, and stable while the display stays on the same
    // connector: see assignScreenIds().
    std::uint32_t id = 0;
    std::string name;       // the display's model name, else the connector name, else "Display"
    std::string connector;  // e.g. "HDMI-1", "DP-2"; several X screens may all say "screen"
    std::string serial;     // the display's serial number; often empty
    QRect geometry;         // in logical pixels (points), global desktop coordinates
    double scale = 1.0;     // device pixels per logical pixel
    // The current mode's refresh rate in Hz. Qt reports 60 when it cannot read the mode, so
    // an unknown rate is not told apart from 60 on this platform.
    double refreshRate = 0.0;

    bool operator==(const ScreenDescriptor&) const = default;
};

// 32-bit FNV-1a of the UTF-8 bytes of a connector name.
constexpr std::uint32_t screenIdForName(std::string_view connector) {
    std::uint32_t hash = 2166136261u;
    for (char c : connector) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 16777619u;
    }
    return hash;
}

}  // namespace kestio::platform
