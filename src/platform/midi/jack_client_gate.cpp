#include "platform/midi/jack_client_gate.h"

#include <atomic>
#include <mutex>

namespace kestio::platform::jack_client_gate {

namespace {

// The process's JACK clients are one shared state of libjack's; this mirrors what the gate needs
// of it.
struct Gate {
    std::mutex opening;
    std::atomic<int> lostClients{0};
};

Gate& gate() {
    static Gate instance;
    return instance;
}

void quiet(const char*) {}

// libjack prints every failed attempt to reach a server, and the clients here try again at
// every poll while there is none: its printers are silenced, and the MIDI system says in one
// line of its own when the server is lost and when it is back.
void silenceLibjack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&quiet);
        jack_set_info_function(&quiet);
    });
}

}  // namespace

jack_client_t* open(const std::string& name) {
    silenceLibjack();
    std::lock_guard lock(gate().opening);
    if (gate().lostClients.load() > 0) {
        return nullptr;
    }
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

void lost() {
    gate().lostClients.fetch_add(1);
}

void close(jack_client_t* client, const std::atomic<bool>& lost) {
    std::lock_guard lock(gate().opening);
    jack_client_close(client);
    if (lost.load()) {
        gate().lostClients.fetch_sub(1);
    }
}

}  // namespace kestio::platform::jack_client_gate
