#include "platform/midi/midi_port_names.h"

#include <cctype>

namespace kestio::platform {

namespace {
bool allDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}
}  // namespace

std::string_view midiClientPart(std::string_view portName) {
    const auto colon = portName.find(':');
    return colon == std::string_view::npos ? portName : portName.substr(0, colon);
}

bool isOwnMIDIPort(std::string_view portName, const std::set<std::string>& ownClientNames) {
    const std::string_view client = midiClientPart(portName);
    for (const auto& own : ownClientNames) {
        if (client == own) {
            return true;
        }
        if (client.size() > own.size() + 1 && client.substr(0, own.size()) == own &&
            client[own.size()] == '-' && allDigits(client.substr(own.size() + 1))) {
            return true;
        }
    }
    return false;
}

bool isMIDIThroughPort(std::string_view portName) {
    return midiClientPart(portName) == "Midi Through";
}

std::optional<std::string> midiDisplayName(std::string_view portName, bool alsa) {
    std::string_view name = portName;
    if (alsa) {
        // Drop a trailing " <client>:<port>" address.
        const auto space = name.rfind(' ');
        if (space != std::string_view::npos) {
            const std::string_view address = name.substr(space + 1);
            const auto colon = address.find(':');
            if (colon != std::string_view::npos && allDigits(address.substr(0, colon)) &&
                allDigits(address.substr(colon + 1))) {
                name = name.substr(0, space);
            }
        }
    }
    if (name.empty()) {
        return std::nullopt;
    }
    return std::string(name);
}

}  // namespace kestio::platform
