#include "control/midi_input_controller.h"

#include <algorithm>

#include "platform/runloop/console.h"

namespace kestio {

using platform::Console;

MIDIInputController::MIDIInputController(platform::RunLoop& loop, platform::MIDISystem& system)
    : loop_(loop),
      system_(system),
      queue_(std::make_shared<MIDIInputQueue>()),
      lifetime_(std::make_shared<MIDIInputController*>(this)) {}

MIDIInputController::~MIDIInputController() {
    stop();
}

void MIDIInputController::start() {
    if (client_) {
        return;
    }
    std::weak_ptr<MIDIInputController*> weak = lifetime_;
    auto created = system_.createClient("KestioMIDIClient", [weak] {
        if (auto self = weak.lock()) {
            (*self)->connectAllSources();
        }
    });
    if (!created.client) {
        Console::log("MIDI: client create failed (" + std::to_string(created.status) + ")");
        return;
    }
    client_ = std::move(created.client);

    // Runs on the MIDI thread: decodes, queues latest-only, and asks the main thread for one take
    // at a time.
    platform::RunLoop* loop = &loop_;
    auto onPacket = [loop, weak, queue = queue_](const std::uint8_t* bytes, std::size_t length) {
        bool askForTake = false;
        const double now = loop->now().seconds();
        for (const MIDIMessage& message : parseMIDIPacket(bytes, length)) {
            askForTake = queue->put(message, now) || askForTake;
        }
        if (askForTake) {
            loop->post([weak] {
                if (auto self = weak.lock()) {
                    (*self)->takeQueued();
                }
            });
        }
    };
    const auto status = client_->createInputPort("KestioInputPort", std::move(onPacket));
    if (status != platform::kMIDIStatusOK) {
        Console::log("MIDI: input port create failed (" + std::to_string(status) + ")");
        return;
    }
    hasInputPort_ = true;
    connectAllSources();
}

void MIDIInputController::connectAllSources() {
    if (!client_ || !hasInputPort_) {
        return;
    }
    const auto sources = client_->sources();
    // A source that is gone is forgotten: the same device plugged in again is a new port.
    std::erase_if(connectedSources_, [&](const std::string& id) {
        const bool present =
            std::any_of(sources.begin(), sources.end(), [&](const auto& s) { return s.id == id; });
        if (!present) {
            client_->disconnectSource(id);
        }
        return !present;
    });
    std::vector<std::string> names;
    std::vector<std::string> newlyConnected;
    for (const auto& source : sources) {
        const bool known = std::find(connectedSources_.begin(), connectedSources_.end(),
                                     source.id) != connectedSources_.end();
        if (!known && client_->connectSource(source.id) == platform::kMIDIStatusOK) {
            newlyConnected.push_back(source.id);
        }
        names.push_back(source.displayName.value_or("MIDI Device"));
    }
    connectedSources_.insert(connectedSources_.end(), newlyConnected.begin(), newlyConnected.end());
    connectedSourceNames = std::move(names);
    isConnected = !sources.empty();
}

void MIDIInputController::stop() {
    if (client_) {
        for (const auto& id : connectedSources_) {
            client_->disconnectSource(id);
        }
    }
    connectedSources_.clear();
    client_.reset();
    hasInputPort_ = false;
    isConnected = false;
    connectedSourceNames = std::vector<std::string>{};
}

void MIDIInputController::takeQueued() {
    const auto batch = queue_->take();
    std::size_t dropped = batch.replaced;
    // The newest note-on is never stale: it is what the player asked for last.
    std::size_t newestNoteOn = batch.entries.size();
    for (std::size_t i = 0; i < batch.entries.size(); ++i) {
        if (batch.entries[i].message.kind == MIDIMessage::Kind::noteOn) {
            newestNoteOn = i;
        }
    }
    for (std::size_t i = 0; i < batch.entries.size(); ++i) {
        const MIDIMessage& message = batch.entries[i].message;
        if (message.kind == MIDIMessage::Kind::controlChange) {
            controlChangeStep(message);
            continue;
        }
        if (message.kind == MIDIMessage::Kind::noteOn && i != newestNoteOn &&
            loop_.now().seconds() - batch.entries[i].arrivedAt > kStaleNoteOnAfter &&
            !(isControlNote && isControlNote(message.channel, message.data1))) {
            ++dropped;
            continue;
        }
        noteStep(message);
        if (message.kind == MIDIMessage::Kind::noteOn) {
            noteToSlotStep(message.data1);
        } else {
            noteOffStep(message.data1);
        }
    }
    reportDropped(dropped);
}

void MIDIInputController::reportDropped(std::size_t count) {
    droppedSinceReport_ += count;
    if (droppedSinceReport_ == 0 || dropReport_.active()) {
        return;
    }
    // One line a second at most while a flood lasts; the last one follows its end.
    dropReport_ = loop_.after(kDropReportInterval, [this] {
        dropReport_.detach();
        Console::log("MIDI: " + std::to_string(droppedSinceReport_) +
                     " incoming messages dropped: they came faster than the show could act on "
                     "them (the latest of each note and controller was kept)");
        droppedSinceReport_ = 0;
    });
}

void MIDIInputController::controlChangeStep(const MIDIMessage& message) {
    lastMessageDescription = describeReceivedMIDIMessage(message);
    if (!isEnabled.get()) {
        return;
    }
    if (onRawMessage) {
        onRawMessage(message.status, message.data1, message.data2);
    }
    if (onControlChange) {
        onControlChange(message.channel, message.data1, message.data2);
    }
}

void MIDIInputController::noteStep(const MIDIMessage& message) {
    lastMessageDescription = describeReceivedMIDIMessage(message);
    if (!isEnabled.get()) {
        return;
    }
    if (onRawMessage) {
        onRawMessage(message.status, message.data1, message.data2);
    }
    if (message.kind == MIDIMessage::Kind::noteOn && onLearnedNote) {
        onLearnedNote(message.channel, message.data1);
    }
}

void MIDIInputController::noteOffStep(std::uint8_t note) {
    if (isEnabled.get() && onNoteOff) {
        onNoteOff(note);
    }
}

void MIDIInputController::noteToSlotStep(std::uint8_t note) {
    int index = 0;
    if (auto it = noteToSlotMap.find(note); it != noteToSlotMap.end()) {
        index = it->second;
    } else {
        if (!autoBaseNote) {
            autoBaseNote = note;  // the first note-on received defines the base
        }
        index = static_cast<int>(note) - static_cast<int>(*autoBaseNote);
    }
    if (index < 0) {
        return;
    }
    if (index < slotCount && isEnabled.get() && onPlaySlot) {
        onPlaySlot(index);
    }
}

}  // namespace kestio
