#include "support/jack_midi_peer.h"

#include <jack/midiport.h>

#include <chrono>
#include <thread>

#include "platform/midi/jack_client_gate.h"
#include "platform/midi/jack_midi_queue.h"

namespace kestio::test {

struct JackMidiPeer::State {
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    bool output = false;
    Handler onMessage;
    std::chrono::microseconds busy{0};
    platform::JackMidiQueue queue{16 * 1024};
    std::atomic<bool> lost{false};
    std::atomic<bool> noticed{false};
    std::atomic<bool> closing{false};

    ~State() {
        if (client != nullptr) {
            closing.store(true);
            platform::jack_client_gate::close(client, lost);
        }
    }

    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<State*>(arg);
        const auto until = std::chrono::steady_clock::now() + self->busy;
        while (std::chrono::steady_clock::now() < until) {
        }
        void* buffer = jack_port_get_buffer(self->port, frames);
        if (!self->output) {
            const std::uint32_t count = jack_midi_get_event_count(buffer);
            for (std::uint32_t i = 0; i < count; ++i) {
                jack_midi_event_t event;
                if (jack_midi_event_get(&event, buffer, i) == 0 && self->onMessage) {
                    self->onMessage(event.buffer, event.size);
                }
            }
            return 0;
        }
        self->queue.drainInto(buffer, 0);
        return 0;
    }

    static void shutDown(jack_status_t, const char*, void* arg) {
        auto* self = static_cast<State*>(arg);
        // libjack may give the notice from two of its threads at once: counted once.
        if (!self->closing.load() && !self->noticed.exchange(true)) {
            platform::jack_client_gate::lost();
            self->lost.store(true);
        }
    }
};

JackMidiPeer JackMidiPeer::source(const std::string& client, const std::string& port,
                                  std::chrono::microseconds busy) {
    return open(client, port, true, {}, busy);
}

JackMidiPeer JackMidiPeer::destination(const std::string& client, const std::string& port,
                                       Handler onMessage) {
    return open(client, port, false, std::move(onMessage));
}

JackMidiPeer JackMidiPeer::open(const std::string& client, const std::string& port, bool output,
                                Handler onMessage, std::chrono::microseconds busy) {
    auto* state = new State;
    state->output = output;
    state->busy = busy;
    state->onMessage = std::move(onMessage);
    // The gate refuses while a client of a server that went away is still closing (the product's
    // own, on its worker thread): try again for a while. It is held through the set-up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto held = platform::jack_client_gate::hold();
    while ((state->client = platform::jack_client_gate::open(held, client)) == nullptr &&
           std::chrono::steady_clock::now() < deadline) {
        held.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a worker is closing
        held.lock();
    }
    // The server is asked for an answer once its notice has a taker, before a thread of the
    // client's runs (see the product's clients).
    if (state->client != nullptr) {
        jack_set_process_callback(state->client, &State::process, state);
        jack_on_info_shutdown(state->client, &State::shutDown, state);
        if (platform::jack_client_gate::answers(held, state->client)) {
            state->port = jack_port_register(state->client, port.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                             output ? JackPortIsOutput : JackPortIsInput, 0);
        }
    }
    bool ok = state->port != nullptr && jack_activate(state->client) == 0;
    if (ok) {
        platform::jack_client_gate::enroll(held, state->client, state->noticed,
                                           [state] { State::shutDown({}, nullptr, state); });
    }
    held.unlock();  // the close takes the gate itself
    if (!ok) {
        delete state;
        return JackMidiPeer(nullptr);
    }
    return JackMidiPeer(state);
}

JackMidiPeer::JackMidiPeer(JackMidiPeer&& other) noexcept : state_(other.state_) {
    other.state_ = nullptr;
}

JackMidiPeer::~JackMidiPeer() {
    delete state_;
}

bool JackMidiPeer::serverLost() const {
    return state_ == nullptr || state_->lost.load();
}

std::string JackMidiPeer::portName() const {
    if (state_ == nullptr) {
        return {};
    }
    const auto held = platform::jack_client_gate::hold();
    return jack_port_name(state_->port);
}

bool JackMidiPeer::connected() const {
    if (state_ == nullptr || state_->lost.load()) {
        return false;
    }
    const auto held = platform::jack_client_gate::hold();
    return jack_port_connected(state_->port) > 0;
}

void JackMidiPeer::send(const std::vector<std::uint8_t>& bytes) {
    if (state_ == nullptr || state_->lost.load()) {
        return;
    }
    state_->queue.push(bytes.data(), bytes.size(), 0);
}

}  // namespace kestio::test
