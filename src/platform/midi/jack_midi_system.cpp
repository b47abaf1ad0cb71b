#include "platform/midi/jack_midi_system.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>
#include <vector>

#include "platform/midi/jack_client_gate.h"
#include "platform/midi/jack_midi_queue.h"
#include "platform/midi/midi_port_names.h"
#include "platform/runloop/console.h"
#include "platform/runloop/job_threads.h"

namespace kestio::platform {

namespace {

// Room for messages on their way to and from the process thread: far more than a burst of notes.
constexpr std::size_t kOutputQueueBytes = 64 * 1024;
constexpr std::size_t kInputQueueBytes = 64 * 1024;
// How long a route change waits for the server to take up the output port's new connection.
constexpr auto kGraphWait = std::chrono::seconds(2);

// What one JACK client is to carry: its name and the ports wanted so far.
struct WantedLink {
    std::string clientName;
    std::optional<std::string> inputPortName;
    std::shared_ptr<const MIDIPacketHandler> handler;
    std::optional<std::string> outputPortName;
};

// One open JACK client with its ports. Its client's call thread owns it and makes every libjack
// call on it; the main thread only queues messages (enqueue) and asks whether it is lost. libjack
// calls process() on its process thread and shutDown() on its notification thread. Incoming
// messages go from the process thread, which must never wait, to a thread of the link's own that
// hands them to the handler (which may lock, allocate and post to the run loop).
class Link {
  public:
    // Opens a client and gives it the wanted ports; null when no server answers (or a client of
    // a server that went away is still closing). Blocking.
    static std::unique_ptr<Link> open(const WantedLink& wanted, std::function<void()> onLost) {
        const auto held = jack_client_gate::hold();
        jack_client_t* handle = jack_client_gate::open(held, wanted.clientName);
        if (handle == nullptr) {
            return nullptr;
        }
        std::unique_ptr<Link> link(new Link(handle, std::move(onLost)));
        jack_set_process_callback(handle, &Link::process, link.get());
        jack_on_info_shutdown(handle, &Link::shutDown, link.get());
        // A server that went while the client was being opened gave its notice before there was
        // anyone to tell: the server is asked for an answer now that the notice has a taker. A
        // link whose server is silent is lost from the start, and closed (never activated, so
        // with no process thread to stop) before any other client of the process opens: a client
        // of a dead server left open beside one of a new server shares libjack's per-process
        // state with it. From here on the notice tells.
        if (!jack_client_gate::answers(held, handle)) {
            link->markLost();
            return link;
        }
        if (link->addPortsHeld(wanted) == PortsAdded::none) {
            link->activateHeld();
        }
        Link* raw = link.get();
        jack_client_gate::enroll(held, handle, link->lost_, [raw] { raw->markLost(); });
        return link;
    }

    // Closes the client: its threads have stopped when this returns. Blocking.
    ~Link() {
        closing_.store(true);
        // A server found gone by a question (not by its notice) has its notice on the way: the
        // notification thread reads the broken socket and words the error (glibc's message
        // catalogue, under its locale lock) before it gives the notice. Cancelled in there, it
        // would keep that lock for good; the close waits for the notice, for a while.
        if (lost_.load()) {
            std::unique_lock lock(noticeMutex_);
            noticeCame_.wait_for(lock, std::chrono::seconds(1), [this] { return noticed_; });
        }
        // libjack ends the client's threads by cancelling them, at any instruction: a notice of
        // the server's end still being handed to the main thread (holding the run loop's lock)
        // would unwind through our code and stop the program. The close waits for it to return.
        while (notifying_.load() > 0) {
            std::this_thread::yield();
        }
        jack_client_gate::close(handle_, lost_);
        if (delivery_.joinable()) {
            stopping_.store(true);
            arrived_.release();
            delivery_.join();
        }
    }

    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // True once the server has gone: nothing but the close may be called any more.
    bool lost() const { return lost_.load(std::memory_order_acquire); }

    // The server is gone (its notice came, or a request failed): counted once, however many
    // threads find out.
    void markLost() {
        if (lost_.exchange(true, std::memory_order_acq_rel)) {
            return;
        }
        jack_client_gate::lost();
        if (onLost_) {
            onLost_();
        }
    }

    enum class PortsAdded { none, added, addedAndReactivated, failed };

    // Registers the wanted ports that the client lacks. libjack's process thread walks the
    // client's port list without a lock, so an active client is deactivated first (which breaks
    // its connections: the caller restores them).
    PortsAdded addPorts(const WantedLink& wanted) {
        const auto held = jack_client_gate::hold();
        return addPortsHeld(wanted);
    }

    // addPorts() with the gate held by the caller.
    PortsAdded addPortsHeld(const WantedLink& wanted) {
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
            if (!delivery_.joinable()) {
                delivery_ = std::thread([this] { deliver(); });
            }
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
        if (!activateHeld() || !ok) {
            return PortsAdded::failed;
        }
        return wasActive ? PortsAdded::addedAndReactivated : PortsAdded::added;
    }

    // Full names of the server's MIDI ports with `flags` (JackPortIsOutput: sources).
    std::vector<std::string> ports(unsigned long flags) const {
        std::vector<std::string> names;
        const auto held = jack_client_gate::hold();
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
        const auto held = jack_client_gate::hold();
        return jack_port_by_name(handle_, name.c_str()) != nullptr;
    }
    std::optional<std::string> inputName() const { return nameOf(input_.load()); }
    std::optional<std::string> outputName() const { return nameOf(output_.load()); }

    // 0, or EEXIST for a connection that exists already, count as connected.
    bool connect(const std::string& from, const std::string& to) {
        const auto held = jack_client_gate::hold();
        const int result = jack_connect(handle_, from.c_str(), to.c_str());
        return result == 0 || result == EEXIST;
    }
    void disconnect(const std::string& from, const std::string& to) {
        const auto held = jack_client_gate::hold();
        jack_disconnect(handle_, from.c_str(), to.c_str());
    }

    // Waits, for a while, until the server's cycles run on a graph where the output port feeds
    // `to` (when `toConnected`) and no longer feeds `from`. jack_connect and jack_disconnect
    // return once the server has the new graph, which the cycles take up a few periods later (more
    // when cycles overrun): a message written before then would reach the old destination, or
    // none. Blocking; the gate is held only for each look.
    void awaitOutputGraph(const std::optional<std::string>& from, const std::string& to,
                          bool toConnected) {
        jack_port_t* out = output_.load(std::memory_order_acquire);
        const auto deadline = std::chrono::steady_clock::now() + kGraphWait;
        while (out != nullptr && !lost()) {
            if (outputGraphIs(out, from, to, toConnected)) {
                return;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                Console::log(
                    "MIDI: the JACK server is slow to take up a new connection; "
                    "messages are sent on");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Queues one message for the output port, sent once `route` is in place; false when the
    // queue is full. One thread only.
    bool enqueue(const std::vector<std::uint8_t>& bytes, std::uint32_t route) {
        return queue_.push(bytes.data(), bytes.size(), route);
    }
    // The output port's connection numbered `route` is in place (or given up).
    void setRoute(std::uint32_t route) { route_.store(route, std::memory_order_release); }

  private:
    Link(jack_client_t* handle, std::function<void()> onLost)
        : handle_(handle),
          queue_(kOutputQueueBytes),
          inbox_(kInputQueueBytes),
          onLost_(std::move(onLost)) {}

    // Activates the client, the gate held: true when the server took it.
    bool activateHeld() {
        active_ = jack_activate(handle_) == 0;
        return active_;
    }

    // The delivery thread: hands the messages the process thread took in to the handler, in
    // order, until the link closes.
    void deliver() {
        pthread_setname_np(pthread_self(), "midi in");
        std::vector<std::uint8_t> bytes;
        bytes.reserve(256);
        for (;;) {
            arrived_.acquire();
            if (stopping_.load()) {
                return;
            }
            while (inbox_.pop(bytes)) {
                const MIDIPacketHandler* handler = handler_.load(std::memory_order_acquire);
                if (handler != nullptr && *handler) {
                    (*handler)(bytes.data(), bytes.size());
                }
            }
            if (const auto dropped = dropped_.exchange(0); dropped > 0) {
                Console::log("MIDI: " + std::to_string(dropped) +
                             " incoming messages dropped: they came faster than they were taken");
            }
        }
    }

    bool outputGraphIs(jack_port_t* out, const std::optional<std::string>& from,
                       const std::string& to, bool toConnected) const {
        const auto held = jack_client_gate::hold();
        if (toConnected && jack_port_connected_to(out, to.c_str()) <= 0) {
            return false;
        }
        return !from || jack_port_connected_to(out, from->c_str()) <= 0;
    }

    std::optional<std::string> nameOf(jack_port_t* port) const {
        if (port == nullptr) {
            return std::nullopt;
        }
        const auto held = jack_client_gate::hold();
        return std::string(jack_port_name(port));
    }

    // The process thread: queues each incoming event for the delivery thread, and writes the
    // queued messages into the output port. A message that does not fit this cycle waits for the
    // next.
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Link*>(arg);
        if (jack_port_t* in = self->input_.load(std::memory_order_acquire)) {
            void* buffer = jack_port_get_buffer(in, frames);
            const std::uint32_t count = jack_midi_get_event_count(buffer);
            bool queued = false;
            for (std::uint32_t i = 0; i < count; ++i) {
                jack_midi_event_t event;
                if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) {
                    continue;
                }
                if (self->inbox_.push(event.buffer, event.size, 0)) {
                    queued = true;
                } else {
                    self->dropped_.fetch_add(1, std::memory_order_relaxed);
                }
            }
            if (queued) {
                self->arrived_.release();
            }
        }
        if (jack_port_t* out = self->output_.load(std::memory_order_acquire)) {
            self->queue_.drainInto(jack_port_get_buffer(out, frames),
                                   self->route_.load(std::memory_order_acquire));
        }
        return 0;
    }

    // The notice that the server went, on a thread of libjack's: its notification thread, or its
    // process thread when a cycle fails, possibly both at once. libjack allows no call on the
    // client here.
    static void shutDown(jack_status_t, const char*, void* arg) {
        auto* self = static_cast<Link*>(arg);
        self->notifying_.fetch_add(1);
        if (!self->closing_.load()) {  // a notice in our own close is no loss
            self->markLost();
        }
        {
            std::lock_guard lock(self->noticeMutex_);
            self->noticed_ = true;
        }
        self->noticeCame_.notify_all();
        self->notifying_.fetch_sub(1);
    }

    jack_client_t* handle_;
    JackMidiQueue queue_;
    JackMidiQueue inbox_;  // routes unused
    std::function<void()> onLost_;
    std::shared_ptr<const MIDIPacketHandler> handlerOwner_;
    std::atomic<const MIDIPacketHandler*> handler_{nullptr};
    std::atomic<jack_port_t*> input_{nullptr};
    std::atomic<jack_port_t*> output_{nullptr};
    std::atomic<std::uint32_t> route_{0};
    std::atomic<bool> lost_{false};
    std::atomic<bool> closing_{false};
    std::atomic<int> notifying_{0};  // shutDown() calls under way
    std::mutex noticeMutex_;
    std::condition_variable noticeCame_;
    bool noticed_ = false;  // guarded by noticeMutex_
    std::counting_semaphore<> arrived_{0};
    std::atomic<std::uint32_t> dropped_{0};
    std::atomic<bool> stopping_{false};
    std::thread delivery_;
    bool active_ = false;
};

// What a look at the server found: the link it was made through and the server's MIDI ports.
struct Survey {
    Link* link = nullptr;      // the keeper's link, lost or not; none when no server answered
    std::uint64_t serial = 0;  // the link's number (links are numbered from 1 as they open)
    std::vector<std::string> sources;
    std::vector<std::string> destinations;
};

// The JACK side of one client: its link and the ports and connections it is to have. Used only on
// the client's call thread, so every libjack call that can block is made there. The link stays
// open until the main thread retires it (it may hold the link's address until then).
class LinkKeeper {
  public:
    LinkKeeper(std::string clientName, std::function<void()> onLost) : onLost_(std::move(onLost)) {
        wanted_.clientName = std::move(clientName);
    }

    // Opens a link when there is none (its ports and connections come with it), and lists the
    // server's ports through a live one.
    Survey survey() {
        if (!link_) {
            link_ = Link::open(wanted_, onLost_);
            if (link_ && link_->lost()) {
                link_.reset();  // its server went as it was opened: no one has seen it yet
            }
            if (link_) {
                serial_ = ++opened_;
                restore();
            }
        }
        Survey found;
        if (link_) {
            found.link = link_.get();
            found.serial = serial_;
            if (!link_->lost()) {
                found.sources = link_->ports(JackPortIsOutput);
                found.destinations = link_->ports(JackPortIsInput);
            }
        }
        return found;
    }

    void wantInput(const std::string& name, std::shared_ptr<const MIDIPacketHandler> handler) {
        wanted_.inputPortName = name;
        wanted_.handler = std::move(handler);
        addPorts();
    }
    void wantOutput(const std::string& name) {
        wanted_.outputPortName = name;
        addPorts();
    }

    void connect(const std::string& source) {
        sources_.insert(source);
        if (Link* link = live()) {
            if (const auto input = link->inputName()) {
                link->connect(source, *input);
            }
        }
    }
    void disconnect(const std::string& source) {
        sources_.erase(source);
        if (Link* link = live()) {
            if (const auto input = link->inputName()) {
                link->disconnect(source, *input);
            }
        }
    }

    // Connects the output port to `destination` alone, then lets the messages of `route` go.
    void route(const std::string& destination, std::uint32_t route) {
        Link* link = live();
        const auto output = link != nullptr ? link->outputName() : std::nullopt;
        std::optional<std::string> left;
        if (output && target_ && *target_ != destination) {
            link->disconnect(*output, *target_);
            left = target_;
        }
        target_ = destination;
        route_ = route;
        if (output) {
            const bool connected = link->connect(*output, destination);
            link->awaitOutputGraph(left, destination, connected);
        }
        if (link != nullptr) {
            link->setRoute(route);
        }
    }

    // Closes the link numbered `serial`, whose server went away. Blocking.
    void retire(std::uint64_t serial) {
        if (link_ && serial_ == serial) {
            link_.reset();
        }
    }
    void close() { link_.reset(); }

  private:
    Link* live() const { return link_ && !link_->lost() ? link_.get() : nullptr; }

    void addPorts() {
        if (Link* link = live()) {
            if (link->addPorts(wanted_) == Link::PortsAdded::addedAndReactivated) {
                restore();
            }
        }
    }

    // After the link was reactivated or replaced: the sources and destination still there are
    // connected again; the others are forgotten.
    void restore() {
        Link* link = live();
        if (link == nullptr) {
            return;
        }
        const auto sources = link->ports(JackPortIsOutput);
        std::erase_if(sources_, [&](const std::string& id) {
            return std::find(sources.begin(), sources.end(), id) == sources.end();
        });
        if (const auto input = link->inputName()) {
            for (const auto& id : sources_) {
                link->connect(id, *input);
            }
        }
        if (target_) {
            const auto output = link->outputName();
            if (!output || !link->hasPort(*target_) || !link->connect(*output, *target_)) {
                target_.reset();
            } else {
                link->awaitOutputGraph(std::nullopt, *target_, true);
            }
        }
        link->setRoute(route_);
    }

    WantedLink wanted_;
    std::function<void()> onLost_;
    std::unique_ptr<Link> link_;
    std::uint64_t serial_ = 0;
    std::uint64_t opened_ = 0;
    std::set<std::string> sources_;
    std::optional<std::string> target_;
    std::uint32_t route_ = 0;
};

}  // namespace

// The call threads of destroyed clients, each still closing its JACK client; the main thread
// never waits for such a close, the system's end does.
class JackMIDISystem::ClosingClients {
  public:
    void add(std::unique_ptr<SerialWorker> thread) {
        std::erase_if(threads_, [](const auto& t) { return t->idle(); });
        threads_.push_back(std::move(thread));
    }

  private:
    std::vector<std::unique_ptr<SerialWorker>> threads_;
};

// What the console is told of the server: every client of the system notices its loss and its
// return, and the first to notice says it, once for them all. Main thread only.
class JackMIDISystem::ServerNews {
  public:
    void lost() {
        if (!saidLost_) {
            saidLost_ = true;
            Console::log("MIDI: JACK server lost; its connections come back with it");
        }
    }
    void back() {
        if (saidLost_) {
            saidLost_ = false;
            Console::log("MIDI: JACK server back");
        }
    }

  private:
    bool saidLost_ = false;
};

// The main thread's side of a client. It never calls libjack: its call thread does, and hands
// back what the server said through the run loop. Until the first answer the client has no
// endpoints; each answer that changes them is announced through onSetupChanged.
class JackMIDISystem::Client final : public MIDIClient {
  public:
    Client(RunLoop& loop, double pollInterval, std::string name,
           std::shared_ptr<std::set<std::string>> ownNames,
           std::shared_ptr<ClosingClients> closingClients, std::shared_ptr<ServerNews> news,
           std::function<void()> onSetupChanged)
        : loop_(loop),
          ownNames_(std::move(ownNames)),
          closingClients_(std::move(closingClients)),
          news_(std::move(news)),
          onSetupChanged_(std::move(onSetupChanged)),
          self_(std::make_shared<Client*>(this)),
          calls_(std::make_unique<SerialWorker>()) {
        // The server's shutdown notice (on libjack's thread) wakes the main thread at once.
        std::weak_ptr<Client*> weak = self_;
        RunLoop* loopPointer = &loop_;
        keeper_ = std::make_shared<LinkKeeper>(std::move(name), [loopPointer, weak] {
            loopPointer->post([weak] {
                if (auto self = weak.lock()) {
                    (*self)->checkLink();
                }
            });
        });
        survey();
        poll_ = loop.every(pollInterval, [this] {
            checkLink();
            survey();
        });
    }

    ~Client() override {
        poll_.cancel();
        self_.reset();
        calls_->submit([keeper = std::move(keeper_)] { keeper->close(); });
        closingClients_->add(std::move(calls_));
    }

    std::vector<MIDIEndpoint> sources() override { return endpoints(sources_); }
    std::vector<MIDIEndpoint> destinations() override { return endpoints(destinations_); }

    MIDIStatus createInputPort(const std::string& name, MIDIPacketHandler onPacket) override {
        if (hasInput_) {
            return kRefused;  // one input port per client; it keeps its first handler
        }
        hasInput_ = true;
        auto handler = std::make_shared<const MIDIPacketHandler>(std::move(onPacket));
        call([name, handler](LinkKeeper& k) { k.wantInput(name, handler); });
        return kMIDIStatusOK;  // made now, or with the server
    }

    MIDIStatus connectSource(const std::string& sourceId) override {
        if (!hasInput_) {
            return kNoPort;
        }
        if (liveLink() == nullptr) {
            return kNoServer;
        }
        if (!listed(sources_, sourceId)) {
            return kUnknownEndpoint;
        }
        call([sourceId](LinkKeeper& k) { k.connect(sourceId); });
        return kMIDIStatusOK;
    }

    void disconnectSource(const std::string& sourceId) override {
        call([sourceId](LinkKeeper& k) { k.disconnect(sourceId); });
    }

    MIDIStatus createOutputPort(const std::string& name) override {
        if (hasOutput_) {
            return kRefused;
        }
        hasOutput_ = true;
        call([name](LinkKeeper& k) { k.wantOutput(name); });
        return kMIDIStatusOK;
    }

    void prepareDestination(const std::string& destinationId) override {
        if (hasOutput_ && liveLink() != nullptr) {
            routeTo(destinationId);
        }
    }

    MIDIStatus send(const std::string& destinationId,
                    const std::vector<std::uint8_t>& bytes) override {
        if (!hasOutput_) {
            return kNoPort;
        }
        // The server may go at any moment (its notice comes on libjack's thread): the link is
        // looked at once, and stays open until this thread retires it.
        Link* link = liveLink();
        if (link == nullptr) {
            return kNoServer;
        }
        if (const auto status = routeTo(destinationId); status != kMIDIStatusOK) {
            return status;
        }
        return link->enqueue(bytes, route_) ? kMIDIStatusOK : kQueueFull;
    }

  private:
    // The adopted link, unless its server is gone.
    Link* liveLink() const { return link_ != nullptr && !link_->lost() ? link_ : nullptr; }

    template <class Fn>
    void call(Fn fn) {
        calls_->submit([keeper = keeper_, fn = std::move(fn)] { fn(*keeper); });
    }

    // Asks the call thread for a look at the server, unless one is on its way: a server that
    // hangs holds up one look, never a queue of them.
    void survey() {
        if (surveying_) {
            return;
        }
        surveying_ = true;
        std::weak_ptr<Client*> weak = self_;
        RunLoop* loop = &loop_;
        call([weak, loop](LinkKeeper& k) {
            loop->post([weak, found = k.survey()]() mutable {
                if (auto self = weak.lock()) {
                    (*self)->take(std::move(found));
                }
            });
        });
    }

    void take(Survey found) {
        surveying_ = false;
        if (link_ == nullptr && found.link != nullptr && found.serial > retiredSerial_) {
            link_ = found.link;
            linkSerial_ = found.serial;
            if (serverLost_) {
                serverLost_ = false;
                news_->back();
            }
        }
        checkLink();
        if (link_ != nullptr && found.serial == linkSerial_) {
            publish(ours(std::move(found.sources)), ours(std::move(found.destinations)));
        }
    }

    // A link whose server went is let go (its call thread closes it), and its endpoints with it.
    void checkLink() {
        if (link_ == nullptr || !link_->lost()) {
            return;
        }
        link_ = nullptr;
        retiredSerial_ = linkSerial_;
        call([serial = linkSerial_](LinkKeeper& k) { k.retire(serial); });
        // Said once: the reopening that follows is quiet until the server is back.
        if (!serverLost_) {
            serverLost_ = true;
            news_->lost();
        }
        publish({}, {});
    }

    void publish(std::vector<std::string> sources, std::vector<std::string> destinations) {
        if (sources == sources_ && destinations == destinations_) {
            return;
        }
        sources_ = std::move(sources);
        destinations_ = std::move(destinations);
        if (target_ && !listed(destinations_, *target_)) {
            target_.reset();
        }
        if (onSetupChanged_) {
            onSetupChanged_();
        }
    }

    // Routes the output port to `destinationId` alone (on the call thread); the messages sent
    // from now on wait for that route.
    MIDIStatus routeTo(const std::string& destinationId) {
        if (target_ == destinationId) {
            return kMIDIStatusOK;
        }
        if (!listed(destinations_, destinationId)) {
            return kUnknownEndpoint;
        }
        target_ = destinationId;
        ++route_;
        call([destinationId, route = route_](LinkKeeper& k) { k.route(destinationId, route); });
        return kMIDIStatusOK;
    }

    // The ports of the server without those of our own clients.
    std::vector<std::string> ours(std::vector<std::string> names) const {
        std::erase_if(names, [&](const std::string& name) {
            return name.empty() || isOwnMIDIPort(name, *ownNames_);
        });
        return names;
    }

    static bool listed(const std::vector<std::string>& ids, const std::string& id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
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
    std::shared_ptr<ClosingClients> closingClients_;
    std::shared_ptr<ServerNews> news_;
    std::function<void()> onSetupChanged_;
    std::shared_ptr<Client*> self_;
    std::unique_ptr<SerialWorker> calls_;
    std::shared_ptr<LinkKeeper> keeper_;  // used on the call thread only
    bool hasInput_ = false;
    bool hasOutput_ = false;
    Link* link_ = nullptr;  // open until retired; the keeper owns it
    std::uint64_t linkSerial_ = 0;
    std::uint64_t retiredSerial_ = 0;
    bool surveying_ = false;
    bool serverLost_ = false;
    std::optional<std::string> target_;
    std::uint32_t route_ = 0;
    std::vector<std::string> sources_;
    std::vector<std::string> destinations_;
    TimerHandle poll_;
};

JackMIDISystem::JackMIDISystem(RunLoop& loop, double pollInterval)
    : loop_(loop),
      pollInterval_(pollInterval),
      ownClientNames_(std::make_shared<std::set<std::string>>()),
      closingClients_(std::make_shared<ClosingClients>()),
      news_(std::make_shared<ServerNews>()) {}

JackMIDISystem::~JackMIDISystem() = default;

MIDISystem::ClientResult JackMIDISystem::createClient(const std::string& name,
                                                      std::function<void()> onSetupChanged) {
    ownClientNames_->insert(name);
    return {std::make_unique<Client>(loop_, pollInterval_, name, ownClientNames_, closingClients_,
                                     news_, std::move(onSetupChanged)),
            kMIDIStatusOK};
}

}  // namespace kestio::platform
