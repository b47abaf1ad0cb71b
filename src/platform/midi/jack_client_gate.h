#pragma once

#include <jack/jack.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace kestio::platform {

// libjack keeps the state of one server per process (its shared graph, engine and registry). A
// client opened for a server that came back while a client of the server that went away is still
// open shares that state with it, and closing the old one then crashes inside libjack. Every JACK
// client of the process therefore opens and closes through this gate: no client is opened while
// a client whose server went away is still open. The server's notice does not always come (a
// client opened as its server went gets none), so before a client opens, the server of every
// client still open is asked for an answer.
//
// Nor is that state safe to use from two threads at once while servers come and go: a call on one
// client (connecting a port, say) while another client's open fails half-way has crashed inside
// libjack. Every other libjack call on a client is therefore made holding the gate (hold()), so
// the process's calls into libjack run one at a time. libjack's own threads (a client's process
// and notification callbacks) never take it.
namespace jack_client_gate {

// Held while making a libjack call on an open client. Blocking; never on the main thread, nor on
// a thread of libjack's.
[[nodiscard]] std::unique_lock<std::mutex> hold();

// Opens a client (never starting a server); null when no server answers, or while a client of a
// server that went away is still to be closed (try again later). Blocking. The caller holds the
// gate through the open and the set-up that follows (callbacks, ports, activation), so that no
// other client opens before this one has shown that its server is still there.
jack_client_t* open(const std::unique_lock<std::mutex>& held, const std::string& name);

// Asks the client's server for an answer that changes nothing: true when it answered. Blocking.
bool answers(const std::unique_lock<std::mutex>& held, jack_client_t* client);

// Enrols a client that was opened and set up: before another client opens, the gate asks its
// server for an answer, and calls `markLost` (which calls lost()) when none comes. `lost` is the
// client's flag. Enrolment ends with the close.
void enroll(const std::unique_lock<std::mutex>& held, jack_client_t* client,
            const std::atomic<bool>& lost, std::function<void()> markLost);

// Called once per client when its server went away (its shutdown callback, a failed request or a
// question of the gate's); the client's `lost` flag is set with it.
void lost();

// Closes a client. `lost` is read once the close is through (libjack has stopped the client's
// threads then, so its shutdown callback has run or never will): true when lost() was called
// for this client. Blocking.
void close(jack_client_t* client, const std::atomic<bool>& lost);

}  // namespace jack_client_gate

}  // namespace kestio::platform
