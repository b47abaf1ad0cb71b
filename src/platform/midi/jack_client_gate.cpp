#include "platform/midi/jack_client_gate.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace kestio::platform::jack_client_gate {

namespace {

struct Enrolled {
    jack_client_t* client;
    const std::atomic<bool>* lost;
    std::function<void()> markLost;
};

// The process's JACK clients are one shared state of libjack's; this mirrors what the gate needs
// of it.
struct Gate {
    std::mutex held;  // by every libjack call on a client
    std::atomic<int> lostClients{0};
    std::vector<Enrolled> enrolled;  // guarded by `held`
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

// libjack writes to the socket of a server that may be gone: the write must fail, not raise
// SIGPIPE, which ends the process. libjack blocks the signal on the thread that first opens a
// client only; every thread that calls it blocks it here.
void blockBrokenPipeSignal() {
    thread_local bool blocked = false;
    if (!blocked) {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        blocked = true;
    }
}

}  // namespace

bool answers(const std::unique_lock<std::mutex>& held, jack_client_t* client) {
    (void)held;
    char* uuid = jack_get_uuid_for_client_name(client, jack_get_client_name(client));
    if (uuid == nullptr) {
        return false;
    }
    jack_free(uuid);
    return true;
}

std::unique_lock<std::mutex> hold() {
    blockBrokenPipeSignal();
    return std::unique_lock(gate().held);
}

jack_client_t* open(const std::unique_lock<std::mutex>& held, const std::string& name) {
    (void)held;
    silenceLibjack();
    // The notice of a server's end does not reach every client of it (one opened as the server
    // went gets none): each open client's server must answer before another client opens.
    for (const auto& e : gate().enrolled) {
        if (!e.lost->load() && !answers(held, e.client)) {
            e.markLost();
        }
    }
    if (gate().lostClients.load() > 0) {
        return nullptr;
    }
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

void enroll(const std::unique_lock<std::mutex>& held, jack_client_t* client,
            const std::atomic<bool>& lost, std::function<void()> markLost) {
    (void)held;
    gate().enrolled.push_back({client, &lost, std::move(markLost)});
}

void lost() {
    gate().lostClients.fetch_add(1);
}

void close(jack_client_t* client, const std::atomic<bool>& lost) {
    const auto held = hold();
    std::erase_if(gate().enrolled, [&](const Enrolled& e) { return e.client == client; });
    jack_client_close(client);
    if (lost.load()) {
        gate().lostClients.fetch_sub(1);
    }
}

}  // namespace kestio::platform::jack_client_gate
