#include "platform/midi/jack_midi_system.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <optional>
#include <vector>

#include "platform/midi/jack_client_gate.h"
#include "platform/midi/jack_midi_queue.h"
#include "platform/midi/midi_port_names.h"
#include "platform/runloop/console.h"

namespace kestio::platform {

namespace {

// Room for messages on their way to the process thread: far more than a burst of notes.
constexpr std::size_t kOutputQueueBytes = 64 * 1024;
// How long creating a client waits for the server's first answer before carrying on without
// it (the next polls pick the answer up).
constexpr auto kFirstAnswerWait = std::chrono::seconds(1);

// What one JACK client is to carry: its name and the ports wanted so far.
struct WantedLink {
    std::string clientName;
    std::optional<std::string> inputPortName;
    std::shared_ptr<const MIDIPacketHandler> handler;
    std::optional<std::string> outputPortName;
};

// One open JACK client with its ports. The main thread (or, while opening and closing, a worker
// thread) owns it; libjack calls process() on its process thread and lost() on its notification
// thread.
class Link {
  public:
    // Opens a client and gives it the wanted ports; null when no server answers (or a client of
    // a server that went away is still closing). Blocking.
    static std::unique_ptr<Link> open(const WantedLink& wanted, std::function<void()> onLost) {
        jack_client_t* handle = jack_client_gate::open(wanted.clientName);
        if (handle == nullptr) {
            return nullptr;
        }
        std::unique_ptr<Link> link(new Link(handle, std::move(onLost)));
        jack_set_process_callback(handle, &Link::process, link.get());
        jack_on_info_shutdown(handle, &Link::shutDown, link.get());
        link->addPorts(wanted);
        return link;
    }

    // Closes the client: its threads have stopped when this returns. Blocking.
    ~Link() {
        closing_.store(true);
        jack_client_gate::close(handle_, lost_);
    }

    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // True once the server has gone: nothing but the close may be called any more.
    bool lost() const { return lost_.load(std::memory_order_acquire); }

    enum class PortsAdded { none, added, addedAndReactivated, failed };

    // Registers the wanted ports that the client lacks. libjack's process thread walks the
    // client's port list without a lock, so an active client is deactivated first (which breaks
    // its connections: the caller restores them).
    PortsAdded addPorts(const WantedLink& wanted) {
        const bool needInput = wanted.inputPortName && input_.load() == nullptr;
        const bool needOutput = wanted.outputPortName && output_.load() == nullptr;
        if (!needInput && !needOutput) {
            return PortsAdded::none;
        }
        const bool wasActive = active_;
        if (active_) {
            jack_deactivate(handle_);
            active_ = false;
        }
        bool ok = true;
        if (needInput) {
            handlerOwner_ = wanted.handler;
            handler_.store(handlerOwner_.get(), std::memory_order_release);
            jack_port_t* port = jack_port_register(handle_, wanted.inputPortName->c_str(),
                                                   JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
            ok = ok && port != nullptr;
            input_.store(port, std::memory_order_release);
        }
        if (needOutput) {
            jack_port_t* port = jack_port_register(handle_, wanted.outputPortName->c_str(),
                                                   JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
            ok = ok && port != nullptr;
            output_.store(port, std::memory_order_release);
        }
        active_ = jack_activate(handle_) == 0;
        if (!ok || !active_) {
            return PortsAdded::failed;
        }
        return wasActive ? PortsAdded::addedAndReactivated : PortsAdded::added;
    }

    // Full names of the server's MIDI ports with `flags` (JackPortIsOutput: sources).
    std::vector<std::string> ports(unsigned long flags) const {
        std::vector<std::string> names;
        const char** list = jack_get_ports(handle_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
        if (list != nullptr) {
            for (const char** p = list; *p != nullptr; ++p) {
                names.emplace_back(*p);
            }
            jack_free(static_cast<void*>(list));
        }
        return names;
    }

    bool hasPort(const std::string& name) const {
        return jack_port_by_name(handle_, name.c_str()) != nullptr;
    }
    std::optional<std::string> inputName() const { return nameOf(input_.load()); }
    std::optional<std::string> outputName() const { return nameOf(output_.load()); }

    // 0, or EEXIST for a connection that exists already, count as connected.
    bool connect(const std::string& from, const std::string& to) {
        const int result = jack_connect(handle_, from.c_str(), to.c_str());
        return result == 0 || result == EEXIST;
    }
    void disconnect(const std::string& from, const std::string& to) {
        jack_disconnect(handle_, from.c_str(), to.c_str());
    }

    // Queues one message for the output port's next cycle; false when the queue is full.
    bool enqueue(const std::vector<std::uint8_t>& bytes) {
        return queue_.push(bytes.data(), bytes.size());
    }

  private:
    Link(jack_client_t* handle, std::function<void()> onLost)
        : handle_(handle), queue_(kOutputQueueBytes), onLost_(std::move(onLost)) {}

    std::optional<std::string> nameOf(jack_port_t* port) const {
        if (port == nullptr) {
            return std::nullopt;
        }
        return std::string(jack_port_name(port));
    }

    // The process thread: hands each incoming event to the handler, and writes the queued
    // messages into the output port. A message that does not fit this cycle waits for the next.
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Link*>(arg);
        if (jack_port_t* in = self->input_.load(std::memory_order_acquire)) {
            void* buffer = jack_port_get_buffer(in, frames);
            const MIDIPacketHandler* handler = self->handler_.load(std::memory_order_acquire);
            const std::uint32_t count = jack_midi_get_event_count(buffer);
            for (std::uint32_t i = 0; i < count; ++i) {
                jack_midi_event_t event;
                if (jack_midi_event_get(&event, buffer, i) == 0 && event.size > 0 &&
                    handler != nullptr && *handler) {
                    (*handler)(event.buffer, event.size);
                }
            }
        }
        if (jack_port_t* out = self->output_.load(std::memory_order_acquire)) {
            self->queue_.drainInto(jack_port_get_buffer(out, frames));
        }
        return 0;
    }

    // The notification thread, when the server goes. libjack allows no call on the client here.
    static void shutDown(jack_status_t, const char*, void* arg) {
        auto* self = static_cast<Link*>(arg);
        if (self->closing_.load() || self->lost_.load()) {
            return;  // a notice during our own close is no loss
        }
        jack_client_gate::lost();
        self->lost_.store(true, std::memory_order_release);
        if (self->onLost_) {
            self->onLost_();
        }
    }

    jack_client_t* handle_;
    JackMidiQueue queue_;
    std::function<void()> onLost_;
    std::shared_ptr<const MIDIPacketHandler> handlerOwner_;
    std::atomic<const MIDIPacketHandler*> handler_{nullptr};
    std::atomic<jack_port_t*> input_{nullptr};
    std::atomic<jack_port_t*> output_{nullptr};
    std::atomic<bool> lost_{false};
    std::atomic<bool> closing_{false};
    bool active_ = false;
};

}  // namespace

class JackMIDISystem::Client final : public MIDIClient {
  public:
    Client(RunLoop& loop, double pollInterval, std::string name,
           std::shared_ptr<std::set<std::string>> ownNames, std::function<void()> onSetupChanged)
        : loop_(loop),
          ownNames_(std::move(ownNames)),
          onSetupChanged_(std::move(onSetupChanged)),
          self_(std::make_shared<Client*>(this)) {
        wanted_.clientName = std::move(name);
        startOpening();
        if (opening_.wait_for(kFirstAnswerWait) == std::future_status::ready) {
            adoptOpened();
        }
        lastSources_ = currentSources();
        lastDestinations_ = currentDestinations();
        poll_ = loop.every(pollInterval, [this] { poll(Retry::yes); });
    }

    ~Client() override {
        poll_.cancel();
        self_.reset();
        if (opening_.valid()) {
            opening_.wait();
        }
        link_.reset();
        closing_.clear();  // each waits for its close
    }

    std::vector<MIDIEndpoint> sources() override { return endpoints(currentSources()); }
    std::vector<MIDIEndpoint> destinations() override { return endpoints(currentDestinations()); }

    MIDIStatus createInputPort(const std::string& name, MIDIPacketHandler onPacket) override {
        if (wanted_.inputPortName) {
            return kRefused;  // one input port per client; it keeps its first handler
        }
        wanted_.inputPortName = name;
        wanted_.handler = std::make_shared<const MIDIPacketHandler>(std::move(onPacket));
        return addPorts();
    }

    MIDIStatus connectSource(const std::string& sourceId) override {
        if (!wanted_.inputPortName) {
            return kNoPort;
        }
        Link* link = liveLink();
        if (link == nullptr) {
            return kNoServer;
        }
        const auto input = link->inputName();
        if (!input) {
            return kRefused;
        }
        const auto sources = currentSources();
        if (std::find(sources.begin(), sources.end(), sourceId) == sources.end()) {
            return kUnknownEndpoint;
        }
        if (!link->connect(sourceId, *input)) {
            return kRefused;
        }
        connectedSources_.insert(sourceId);
        return kMIDIStatusOK;
    }

    void disconnectSource(const std::string& sourceId) override {
        connectedSources_.erase(sourceId);
        Link* link = liveLink();
        if (link == nullptr) {
            return;
        }
        if (const auto input = link->inputName()) {
            link->disconnect(sourceId, *input);
        }
    }

    MIDIStatus createOutputPort(const std::string& name) override {
        if (wanted_.outputPortName) {
            return kRefused;
        }
        wanted_.outputPortName = name;
        return addPorts();
    }

    void prepareDestination(const std::string& destinationId) override {
        Link* link = liveLink();
        if (wanted_.outputPortName && link != nullptr) {
            route(*link, destinationId);
        }
    }

    MIDIStatus send(const std::string& destinationId,
                    const std::vector<std::uint8_t>& bytes) override {
        if (!wanted_.outputPortName) {
            return kNoPort;
        }
        // The server may go at any moment (its notice comes on libjack's thread): the link is
        // looked at once, and stays ours to use until this thread lets it go.
        Link* link = liveLink();
        if (link == nullptr) {
            return kNoServer;
        }
        if (const auto status = route(*link, destinationId); status != kMIDIStatusOK) {
            return status;
        }
        return link->enqueue(bytes) ? kMIDIStatusOK : kQueueFull;
    }

  private:
    // The current client, unless its server is gone.
    Link* liveLink() const { return link_ && !link_->lost() ? link_.get() : nullptr; }

    MIDIStatus addPorts() {
        Link* link = liveLink();
        if (link == nullptr) {
            return kMIDIStatusOK;  // the ports come with the server
        }
        const auto added = link->addPorts(wanted_);
        if (added == Link::PortsAdded::addedAndReactivated) {
            restoreConnections();
        }
        return added == Link::PortsAdded::failed ? kRefused : kMIDIStatusOK;
    }

    // Connects the output port to `destinationId` alone, so that what is sent reaches it and
    // nothing else.
    MIDIStatus route(Link& link, const std::string& destinationId) {
        if (target_ == destinationId) {
            return kMIDIStatusOK;
        }
        const auto output = link.outputName();
        if (!output) {
            return kRefused;
        }
        const auto destinations = currentDestinations();
        if (std::find(destinations.begin(), destinations.end(), destinationId) ==
            destinations.end()) {
            return kUnknownEndpoint;
        }
        if (target_) {
            link.disconnect(*output, *target_);
            target_.reset();
        }
        if (!link.connect(*output, destinationId)) {
            return kRefused;
        }
        target_ = destinationId;
        return kMIDIStatusOK;
    }

    // After the client was deactivated or replaced: the sources and destination still there are
    // connected again; the others are forgotten.
    void restoreConnections() {
        Link* link = liveLink();
        if (link == nullptr) {
            return;
        }
        const auto sources = currentSources();
        std::erase_if(connectedSources_, [&](const std::string& id) {
            return std::find(sources.begin(), sources.end(), id) == sources.end();
        });
        if (const auto input = link->inputName()) {
            for (const auto& id : connectedSources_) {
                link->connect(id, *input);
            }
        }
        if (target_) {
            const auto output = link->outputName();
            if (!output || !link->hasPort(*target_) || !link->connect(*output, *target_)) {
                target_.reset();
            }
        }
    }

    void startOpening() {
        std::weak_ptr<Client*> weak = self_;
        RunLoop* loop = &loop_;
        // Both callbacks wake the main thread for a poll, which takes the news in. Only the
        // timer's polls try again, so a server that is not there is asked once a poll.
        auto wake = [loop, weak] {
            loop->post([weak] {
                if (auto self = weak.lock()) {
                    (*self)->poll(Retry::no);
                }
            });
        };
        opening_ = std::async(std::launch::async, [wanted = wanted_, wake] {
            auto link = Link::open(wanted, wake);
            wake();
            return link;
        });
    }

    // Takes the client that a finished open gave, if any, and gives it the ports wanted since.
    void adoptOpened() {
        if (!opening_.valid() ||
            opening_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            return;
        }
        link_ = opening_.get();
        if (link_ && serverLost_) {
            serverLost_ = false;
            Console::log("MIDI: JACK server back");
        }
        if (link_) {
            const auto added = link_->addPorts(wanted_);
            (void)added;  // a new client has no connections yet: restore them in any case
            restoreConnections();
        }
    }

    // A client whose server went is closed on a thread of its own.
    void retire(std::unique_ptr<Link> link) {
        closing_.push_back(
            std::async(std::launch::async, [link = std::move(link)]() mutable { link.reset(); }));
    }

    enum class Retry { no, yes };

    void poll(Retry retry) {
        std::erase_if(closing_, [](std::future<void>& f) {
            return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        if (link_ && link_->lost()) {
            retire(std::move(link_));
            // Said once: the reopening that follows is quiet until the server is back.
            if (!serverLost_) {
                serverLost_ = true;
                Console::log("MIDI: JACK server lost; its connections come back with it");
            }
        }
        if (!link_) {
            adoptOpened();
            if (!link_ && !opening_.valid() && retry == Retry::yes) {
                startOpening();
            }
        }
        auto sourcesNow = currentSources();
        auto destinationsNow = currentDestinations();
        if (sourcesNow == lastSources_ && destinationsNow == lastDestinations_) {
            return;
        }
        lastSources_ = std::move(sourcesNow);
        lastDestinations_ = std::move(destinationsNow);
        if (target_ && std::find(lastDestinations_.begin(), lastDestinations_.end(), *target_) ==
                           lastDestinations_.end()) {
            target_.reset();
        }
        if (onSetupChanged_) {
            onSetupChanged_();
        }
    }

    std::vector<std::string> currentSources() const { return listed(JackPortIsOutput); }
    std::vector<std::string> currentDestinations() const { return listed(JackPortIsInput); }

    std::vector<std::string> listed(unsigned long flags) const {
        std::vector<std::string> out;
        if (Link* link = liveLink()) {
            for (auto& name : link->ports(flags)) {
                if (!name.empty() && !isOwnMIDIPort(name, *ownNames_)) {
                    out.push_back(std::move(name));
                }
            }
        }
        return out;
    }

    static std::vector<MIDIEndpoint> endpoints(const std::vector<std::string>& ids) {
        std::vector<MIDIEndpoint> out;
        for (const auto& id : ids) {
            out.push_back({id, midiDisplayName(id, false)});
        }
        return out;
    }

    RunLoop& loop_;
    std::shared_ptr<std::set<std::string>> ownNames_;
    std::function<void()> onSetupChanged_;
    std::shared_ptr<Client*> self_;
    WantedLink wanted_;
    std::unique_ptr<Link> link_;
    bool serverLost_ = false;
    std::future<std::unique_ptr<Link>> opening_;
    std::vector<std::future<void>> closing_;
    std::set<std::string> connectedSources_;
    std::optional<std::string> target_;
    std::vector<std::string> lastSources_;
    std::vector<std::string> lastDestinations_;
    TimerHandle poll_;
};

JackMIDISystem::JackMIDISystem(RunLoop& loop, double pollInterval)
    : loop_(loop),
      pollInterval_(pollInterval),
      ownClientNames_(std::make_shared<std::set<std::string>>()) {}

JackMIDISystem::~JackMIDISystem() = default;

MIDISystem::ClientResult JackMIDISystem::createClient(const std::string& name,
                                                      std::function<void()> onSetupChanged) {
    ownClientNames_->insert(name);
    return {std::make_unique<Client>(loop_, pollInterval_, name, ownClientNames_,
                                     std::move(onSetupChanged)),
            kMIDIStatusOK};
}

}  // namespace kestio::platform
