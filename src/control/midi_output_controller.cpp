#include "control/midi_output_controller.h"

#include <algorithm>

#include "control/midi_message.h"
#include "platform/runloop/console.h"

namespace kestio {

using platform::Console;

MIDIOutputController::MIDIOutputController(platform::RunLoop& loop, platform::MIDISystem& system)
    : loop_(loop), system_(system), lifetime_(std::make_shared<MIDIOutputController*>(this)) {}

MIDIOutputController::~MIDIOutputController() {
    teardown();
}

void MIDIOutputController::setup() {
    if (client_) {
        return;
    }
    std::weak_ptr<MIDIOutputController*> weak = lifetime_;
    auto created = system_.createClient("KestioMIDIOutputClient", [weak] {
        if (auto self = weak.lock()) {
            (*self)->refreshDestinations();
        }
    });
    if (!created.client) {
        Console::log("MIDI Output: client create failed (" + std::to_string(created.status) + ")");
        return;
    }
    client_ = std::move(created.client);
    const auto status = client_->createOutputPort("KestioOutputPort");
    if (status != platform::kMIDIStatusOK) {
        Console::log("MIDI Output: output port create failed (" + std::to_string(status) + ")");
        return;
    }
    hasOutputPort_ = true;
    selectionWatch_ = selectedDestinationName.subscribe([this](const auto&) { prepareChosen(); });
    refreshDestinations();
}

void MIDIOutputController::prepareChosen() {
    if (client_ && hasOutputPort_) {
        if (const auto destination = chosenDestination()) {
            client_->prepareDestination(*destination);
        }
    }
}

void MIDIOutputController::refreshDestinations() {
    if (!client_) {
        return;
    }
    std::vector<std::string> ids;
    std::vector<std::string> names;
    for (const auto& destination : client_->destinations()) {
        ids.push_back(destination.id);
        names.push_back(destination.displayName.value_or("MIDI Device"));
    }
    destinations_ = std::move(ids);
    const bool any = !names.empty();
    const auto& selected = selectedDestinationName.get();
    const bool selectionGone =
        selected && std::find(names.begin(), names.end(), *selected) == names.end();
    availableDestinationNames = std::move(names);
    isConnected = any;
    if (selectionGone) {
        selectedDestinationName = std::nullopt;  // prepares the new choice
    } else {
        prepareChosen();
    }
}

std::optional<std::string> MIDIOutputController::chosenDestination() const {
    if (destinations_.empty()) {
        return std::nullopt;
    }
    const auto& names = availableDestinationNames.get();
    if (const auto& selected = selectedDestinationName.get()) {
        auto it = std::find(names.begin(), names.end(), *selected);
        if (it != names.end()) {
            return destinations_[static_cast<std::size_t>(it - names.begin())];
        }
    }
    return destinations_.front();
}

void MIDIOutputController::sendMessage(std::uint8_t status, int data1, int data2, int channel) {
    const auto destination = chosenDestination();
    if (!client_ || !hasOutputPort_ || !destination) {
        return;
    }
    const auto nibble = static_cast<std::uint8_t>(std::clamp(channel - 1, 0, 15));
    const std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(status | nibble),
                                          static_cast<std::uint8_t>(std::clamp(data1, 0, 127)),
                                          static_cast<std::uint8_t>(std::clamp(data2, 0, 127))};
    client_->send(*destination, bytes);  // a failed send is not reported

    std::weak_ptr<MIDIOutputController*> weak = lifetime_;
    loop_.post([weak, text = describeSentMIDIMessage(status, data1, data2, channel)] {
        if (auto self = weak.lock()) {
            (*self)->lastMessageDescription = text;
        }
    });
}

void MIDIOutputController::teardown() {
    selectionWatch_.reset();
    client_.reset();
    hasOutputPort_ = false;
    destinations_.clear();
    availableDestinationNames = std::vector<std::string>{};
    isConnected = false;
}

}  // namespace kestio
