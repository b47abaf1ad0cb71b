#include "platform/midi/rtmidi_system.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/midi/midi_port_names.h"
#include "platform/runloop/console.h"

namespace kestio::platform {

namespace {

// Receives RtMidi's errors instead of letting it throw or print; remembers the last one so
// that an operation can tell whether it failed.
struct ErrorSink {
    std::mutex mutex;
    RtMidiError::Type lastType = RtMidiError::WARNING;
    bool failed = false;

    static void callback(RtMidiError::Type type, const std::string& text, void* self) {
        auto* sink = static_cast<ErrorSink*>(self);
        {
            std::lock_guard lock(sink->mutex);
            if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) {
                sink->failed = true;
                sink->lastType = type;
            }
        }
        Console::log("MIDI (RtMidi): " + text);
    }
    void reset() {
        std::lock_guard lock(mutex);
        failed = false;
    }
    std::optional<MIDIStatus> failure() {
        std::lock_guard lock(mutex);
        if (!failed) {
            return std::nullopt;
        }
        return static_cast<MIDIStatus>(lastType);
    }
};

// One RtMidi object with its error sink (which must outlive the object's callbacks).
template <class Port>
struct Guarded {
    std::unique_ptr<ErrorSink> errors = std::make_unique<ErrorSink>();
    std::unique_ptr<Port> port;
};

template <class Port>
Guarded<Port> makePort(const std::string& clientName) {
    Guarded<Port> g;
    g.port = std::make_unique<Port>(RtMidi::LINUX_ALSA, clientName);
    g.port->setErrorCallback(&ErrorSink::callback, g.errors.get());
    return g;
}

template <class Port>
std::vector<std::string> portNames(Port& port) {
    std::vector<std::string> names;
    const unsigned count = port.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        names.push_back(port.getPortName(i));
    }
    return names;
}

template <class Port>
std::optional<unsigned> indexOf(Port& port, const std::string& id) {
    const auto names = portNames(port);
    for (unsigned i = 0; i < names.size(); ++i) {
        if (names[i] == id) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

class RtMidiSystem::Client final : public MIDIClient {
  public:
    Client(RunLoop& loop, double pollInterval, std::string name,
           std::shared_ptr<std::set<std::string>> ownNames, std::function<void()> onSetupChanged)
        : name_(std::move(name)),
          ownNames_(std::move(ownNames)),
          onSetupChanged_(std::move(onSetupChanged)) {
        // Throws RtMidiError when the server cannot be reached; the caller reports it.
        listIn_ = makePort<RtMidiIn>(name_);
        listOut_ = makePort<RtMidiOut>(name_);
        lastSources_ = filtered(portNames(*listIn_.port));
        lastDestinations_ = filtered(portNames(*listOut_.port));
        poll_ = loop.every(pollInterval, [this] { poll(); });
    }

    ~Client() override {
        poll_.cancel();
        // Closing the inputs first stops their threads before the handler goes away.
        inputs_.clear();
        outputs_.clear();
    }

    std::vector<MIDIEndpoint> sources() override {
        return endpoints(lastSources_ = filtered(portNames(*listIn_.port)));
    }
    std::vector<MIDIEndpoint> destinations() override {
        return endpoints(lastDestinations_ = filtered(portNames(*listOut_.port)));
    }

    MIDIStatus createInputPort(const std::string& name, MIDIPacketHandler onPacket) override {
        inputPortName_ = name;
        handler_ = std::make_shared<MIDIPacketHandler>(std::move(onPacket));
        return kMIDIStatusOK;
    }

    MIDIStatus connectSource(const std::string& sourceId) override {
        if (!handler_) {
            return static_cast<MIDIStatus>(RtMidiError::INVALID_USE);
        }
        if (inputs_.count(sourceId) != 0) {
            return kMIDIStatusOK;
        }
        auto input = std::make_unique<Input>();
        // The handler is in place before the port exists: RtMidi starts the thread that calls
        // back when the port is opened and passes the callback to it without any
        // synchronisation, so only what was written before that thread began is safe to read.
        input->handler = handler_;
        try {
            input->port = makePort<RtMidiIn>(name_);
        } catch (const RtMidiError& e) {
            return static_cast<MIDIStatus>(e.getType());
        }
        const auto index = indexOf(*input->port.port, sourceId);
        if (!index) {
            return static_cast<MIDIStatus>(RtMidiError::INVALID_DEVICE);
        }
        input->port.port->setCallback(&Input::callback, input.get());
        input->port.errors->reset();
        input->port.port->openPort(*index, inputPortName_);
        if (auto failure = input->port.errors->failure()) {
            return *failure;
        }
        inputs_[sourceId] = std::move(input);
        return kMIDIStatusOK;
    }

    void disconnectSource(const std::string& sourceId) override { inputs_.erase(sourceId); }

    MIDIStatus createOutputPort(const std::string& name) override {
        outputPortName_ = name;
        hasOutputPort_ = true;
        return kMIDIStatusOK;
    }

    void prepareDestination(const std::string& destinationId) override {
        if (hasOutputPort_) {
            openOutput(destinationId);
        }
    }

    MIDIStatus send(const std::string& destinationId,
                    const std::vector<std::uint8_t>& bytes) override {
        if (!hasOutputPort_) {
            return static_cast<MIDIStatus>(RtMidiError::INVALID_USE);
        }
        Guarded<RtMidiOut>* out = nullptr;
        if (const auto status = openOutput(destinationId, &out); status != kMIDIStatusOK) {
            return status;
        }
        out->errors->reset();
        out->port->sendMessage(bytes.data(), bytes.size());
        return out->errors->failure().value_or(kMIDIStatusOK);
    }

  private:
    struct Input {
        Guarded<RtMidiIn> port;
        std::shared_ptr<MIDIPacketHandler> handler;

        // Runs on RtMidi's input thread.
        static void callback(double, std::vector<unsigned char>* message, void* self) {
            auto* input = static_cast<Input*>(self);
            if (message != nullptr && !message->empty() && input->handler && *input->handler) {
                (*input->handler)(message->data(), message->size());
            }
        }
        ~Input() {
            if (port.port) {
                port.port->closePort();
                port.port.reset();
            }
        }
    };

    // The output connected to a destination, opened on first use and kept while the
    // destination exists.
    MIDIStatus openOutput(const std::string& destinationId, Guarded<RtMidiOut>** result = nullptr) {
        auto it = outputs_.find(destinationId);
        if (it == outputs_.end()) {
            Guarded<RtMidiOut> out;
            try {
                out = makePort<RtMidiOut>(name_);
            } catch (const RtMidiError& e) {
                return static_cast<MIDIStatus>(e.getType());
            }
            const auto index = indexOf(*out.port, destinationId);
            if (!index) {
                return static_cast<MIDIStatus>(RtMidiError::INVALID_DEVICE);
            }
            out.errors->reset();
            out.port->openPort(*index, outputPortName_);
            if (auto failure = out.errors->failure()) {
                return *failure;
            }
            it = outputs_.emplace(destinationId, std::move(out)).first;
        }
        if (result != nullptr) {
            *result = &it->second;
        }
        return kMIDIStatusOK;
    }

    std::vector<std::string> filtered(const std::vector<std::string>& names) const {
        std::vector<std::string> out;
        for (const auto& n : names) {
            if (n.empty() || isOwnMIDIPort(n, *ownNames_) || isMIDIThroughPort(n)) {
                continue;
            }
            out.push_back(n);
        }
        return out;
    }

    std::vector<MIDIEndpoint> endpoints(const std::vector<std::string>& ids) const {
        std::vector<MIDIEndpoint> out;
        for (const auto& id : ids) {
            out.push_back({id, midiDisplayName(id, true)});
        }
        return out;
    }

    void poll() {
        auto sourcesNow = filtered(portNames(*listIn_.port));
        auto destinationsNow = filtered(portNames(*listOut_.port));
        if (sourcesNow == lastSources_ && destinationsNow == lastDestinations_) {
            return;
        }
        lastSources_ = std::move(sourcesNow);
        lastDestinations_ = std::move(destinationsNow);
        // Outputs to destinations that are gone are closed, so a returning device is opened
        // afresh.
        std::erase_if(outputs_, [&](const auto& entry) {
            return std::find(lastDestinations_.begin(), lastDestinations_.end(), entry.first) ==
                   lastDestinations_.end();
        });
        if (onSetupChanged_) {
            onSetupChanged_();
        }
    }

    std::string name_;
    std::shared_ptr<std::set<std::string>> ownNames_;
    std::function<void()> onSetupChanged_;
    Guarded<RtMidiIn> listIn_;
    Guarded<RtMidiOut> listOut_;
    std::vector<std::string> lastSources_;
    std::vector<std::string> lastDestinations_;
    std::string inputPortName_;
    std::string outputPortName_;
    bool hasOutputPort_ = false;
    std::shared_ptr<MIDIPacketHandler> handler_;
    std::map<std::string, std::unique_ptr<Input>> inputs_;
    std::map<std::string, Guarded<RtMidiOut>> outputs_;
    TimerHandle poll_;
};

RtMidiSystem::RtMidiSystem(RunLoop& loop, double pollInterval)
    : loop_(loop),
      pollInterval_(pollInterval),
      ownClientNames_(std::make_shared<std::set<std::string>>()) {}

RtMidiSystem::~RtMidiSystem() = default;

MIDISystem::ClientResult RtMidiSystem::createClient(const std::string& name,
                                                    std::function<void()> onSetupChanged) {
    ownClientNames_->insert(name);
    try {
        return {std::make_unique<Client>(loop_, pollInterval_, name, ownClientNames_,
                                         std::move(onSetupChanged)),
                kMIDIStatusOK};
    } catch (const RtMidiError& e) {
        return {nullptr, static_cast<MIDIStatus>(e.getType())};
    }
}

}  // namespace kestio::platform
