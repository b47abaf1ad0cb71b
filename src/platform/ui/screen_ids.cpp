#include "platform/ui/screen_ids.h"

#include <algorithm>
#include <set>
#include <string>

namespace kestio::platform {

namespace {

// True when `key` gives every display of the group a non-empty value and no two the same one.
template <class Key>
bool tellsApart(const std::vector<const ScreenDescriptor*>& group, Key key) {
    std::set<std::string> seen;
    for (const ScreenDescriptor* screen : group) {
        const std::string value = key(*screen);
        if (value.empty() || !seen.insert(value).second) {
            return false;
        }
    }
    return true;
}

std::string serialOf(const ScreenDescriptor& screen) {
    return screen.serial.empty() ? std::string() : "serial " + screen.serial;
}

std::string placeOf(const ScreenDescriptor& screen) {
    return "at " + std::to_string(screen.geometry.x()) + "," + std::to_string(screen.geometry.y());
}

}  // namespace

void assignScreenIds(std::vector<ScreenDescriptor>& screens) {
    std::set<std::uint32_t> used;
    for (ScreenDescriptor& screen : screens) {
        std::vector<const ScreenDescriptor*> group;
        for (const ScreenDescriptor& other : screens) {
            if (other.connector == screen.connector) {
                group.push_back(&other);
            }
        }
        std::string key = screen.connector;
        if (group.size() > 1) {
            // A unit separator keeps the distinction from reading as part of a connector name.
            key += '\x1f';
            if (tellsApart(group, serialOf)) {
                key += serialOf(screen);
            } else if (tellsApart(group, placeOf)) {
                key += placeOf(screen);
            } else {
                const auto index = std::find(group.begin(), group.end(), &screen) - group.begin();
                key += "number " + std::to_string(index);
            }
        }
        std::uint32_t id = screenIdForName(key);
        while (!used.insert(id).second) {
            key += '\x1f';
            id = screenIdForName(key);
        }
        screen.id = id;
    }
}

}  // namespace kestio::platform
