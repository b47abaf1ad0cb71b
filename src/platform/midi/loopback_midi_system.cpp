#include "platform/midi/loopback_midi_system.h"

#include <algorithm>

namespace kestio::platform {

struct LoopbackMIDISystem::Shared {
    mutable std::mutex mutex;
    int nextId = 1;
    std::vector<Endpoint> sources;
    std::vector<Endpoint> destinations;
    std::map<std::string, std::vector<std::vector<std::uint8_t>>> received;
    std::map<std::string, MIDIStatus> connectFailures;
    std::vector<std::string> prepared;
    std::vector<Client*> clients;
};

class LoopbackMIDISystem::Client final : public MIDIClient {
  public:
    Client(LoopbackMIDISystem& system, std::string name, std::function<void()> onSetupChanged)
        : system_(system),
          shared_(system.shared_),
          name_(std::move(name)),
          onSetupChanged_(std::make_shared<std::function<void()>>(std::move(onSetupChanged))),
          alive_(std::make_shared<bool>(true)) {
        std::lock_guard lock(shared_->mutex);
        shared_->clients.push_back(this);
    }
    ~Client() override {
        std::lock_guard lock(shared_->mutex);
        std::erase(shared_->clients, this);
    }

    std::vector<MIDIEndpoint> sources() override { return list(&Shared::sources); }
    std::vector<MIDIEndpoint> destinations() override { return list(&Shared::destinations); }

    MIDIStatus createInputPort(const std::string&, MIDIPacketHandler onPacket) override {
        if (system_.failInputPort_ != kMIDIStatusOK) {
            return system_.failInputPort_;
        }
        std::lock_guard lock(shared_->mutex);
        handler_ = std::make_shared<MIDIPacketHandler>(std::move(onPacket));
        return kMIDIStatusOK;
    }
    MIDIStatus connectSource(const std::string& sourceId) override {
        std::lock_guard lock(shared_->mutex);
        if (auto it = shared_->connectFailures.find(sourceId);
            it != shared_->connectFailures.end()) {
            return it->second;
        }
        const bool exists = std::any_of(shared_->sources.begin(), shared_->sources.end(),
                                        [&](const Endpoint& e) { return e.id == sourceId; });
        if (!handler_ || !exists) {
            return -1;
        }
        connected_.insert(sourceId);
        return kMIDIStatusOK;
    }
    void disconnectSource(const std::string& sourceId) override {
        std::lock_guard lock(shared_->mutex);
        connected_.erase(sourceId);
    }
    MIDIStatus createOutputPort(const std::string&) override {
        if (system_.failOutputPort_ != kMIDIStatusOK) {
            return system_.failOutputPort_;
        }
        hasOutputPort_ = true;
        return kMIDIStatusOK;
    }
    void prepareDestination(const std::string& destinationId) override {
        std::lock_guard lock(shared_->mutex);
        shared_->prepared.push_back(destinationId);
    }
    MIDIStatus send(const std::string& destinationId,
                    const std::vector<std::uint8_t>& bytes) override {
        std::lock_guard lock(shared_->mutex);
        const bool exists = std::any_of(shared_->destinations.begin(), shared_->destinations.end(),
                                        [&](const Endpoint& e) { return e.id == destinationId; });
        if (!hasOutputPort_ || !exists) {
            return -1;
        }
        shared_->received[destinationId].push_back(bytes);
        return kMIDIStatusOK;
    }

    // Called with the shared mutex held.
    std::shared_ptr<MIDIPacketHandler> handlerFor(const std::string& sourceId) const {
        return connected_.count(sourceId) != 0 ? handler_ : nullptr;
    }
    std::vector<std::string> connectedLocked() const {
        return {connected_.begin(), connected_.end()};
    }
    const std::string& name() const { return name_; }
    void announce(RunLoop& loop) {
        std::weak_ptr<bool> alive = alive_;
        loop.post([alive, fn = onSetupChanged_] {
            if (alive.lock() && *fn) {
                (*fn)();
            }
        });
    }

  private:
    std::vector<MIDIEndpoint> list(std::vector<Endpoint> Shared::*which) const {
        std::lock_guard lock(shared_->mutex);
        std::vector<MIDIEndpoint> out;
        for (const auto& e : (*shared_).*which) {
            out.push_back({e.id, e.displayName});
        }
        return out;
    }

    LoopbackMIDISystem& system_;
    std::shared_ptr<Shared> shared_;
    std::string name_;
    std::shared_ptr<std::function<void()>> onSetupChanged_;
    std::shared_ptr<bool> alive_;
    std::shared_ptr<MIDIPacketHandler> handler_;
    std::set<std::string> connected_;
    bool hasOutputPort_ = false;
};

LoopbackMIDISystem::LoopbackMIDISystem(RunLoop& loop)
    : loop_(loop), shared_(std::make_shared<Shared>()) {}

LoopbackMIDISystem::~LoopbackMIDISystem() = default;

MIDISystem::ClientResult LoopbackMIDISystem::createClient(const std::string& name,
                                                          std::function<void()> onSetupChanged) {
    if (failClient_ != kMIDIStatusOK) {
        return {nullptr, failClient_};
    }
    return {std::make_unique<Client>(*this, name, std::move(onSetupChanged)), kMIDIStatusOK};
}

std::string LoopbackMIDISystem::addSource(std::optional<std::string> displayName) {
    std::string id;
    {
        std::lock_guard lock(shared_->mutex);
        id = "source-" + std::to_string(shared_->nextId++);
        shared_->sources.push_back({id, std::move(displayName)});
    }
    announce();
    return id;
}

void LoopbackMIDISystem::removeSource(const std::string& id) {
    {
        std::lock_guard lock(shared_->mutex);
        std::erase_if(shared_->sources, [&](const Endpoint& e) { return e.id == id; });
    }
    announce();
}

std::string LoopbackMIDISystem::addDestination(std::optional<std::string> displayName) {
    std::string id;
    {
        std::lock_guard lock(shared_->mutex);
        id = "destination-" + std::to_string(shared_->nextId++);
        shared_->destinations.push_back({id, std::move(displayName)});
    }
    announce();
    return id;
}

void LoopbackMIDISystem::removeDestination(const std::string& id) {
    {
        std::lock_guard lock(shared_->mutex);
        std::erase_if(shared_->destinations, [&](const Endpoint& e) { return e.id == id; });
    }
    announce();
}

void LoopbackMIDISystem::sendFromSource(const std::string& sourceId,
                                        const std::vector<std::uint8_t>& bytes) {
    std::vector<std::shared_ptr<MIDIPacketHandler>> handlers;
    {
        std::lock_guard lock(shared_->mutex);
        for (const Client* client : shared_->clients) {
            if (auto handler = client->handlerFor(sourceId)) {
                handlers.push_back(std::move(handler));
            }
        }
    }
    for (const auto& handler : handlers) {
        (*handler)(bytes.data(), bytes.size());
    }
}

std::vector<std::vector<std::uint8_t>> LoopbackMIDISystem::received(
    const std::string& destinationId) const {
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->received.find(destinationId);
    return it == shared_->received.end() ? std::vector<std::vector<std::uint8_t>>{} : it->second;
}

std::vector<std::string> LoopbackMIDISystem::connectedSources(const std::string& clientName) const {
    std::lock_guard lock(shared_->mutex);
    for (const Client* client : shared_->clients) {
        if (client->name() == clientName) {
            return client->connectedLocked();
        }
    }
    return {};
}

std::vector<std::string> LoopbackMIDISystem::preparedDestinations() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->prepared;
}

std::vector<std::string> LoopbackMIDISystem::clientNames() const {
    std::lock_guard lock(shared_->mutex);
    std::vector<std::string> names;
    for (const Client* client : shared_->clients) {
        names.push_back(client->name());
    }
    return names;
}

void LoopbackMIDISystem::failConnecting(const std::string& sourceId, MIDIStatus status) {
    std::lock_guard lock(shared_->mutex);
    shared_->connectFailures[sourceId] = status;
}

void LoopbackMIDISystem::announce() {
    std::lock_guard lock(shared_->mutex);
    for (Client* client : shared_->clients) {
        client->announce(loop_);
    }
}

}  // namespace kestio::platform
