#pragma once

#include <jack/jack.h>

#include <atomic>
#include <string>

namespace kestio::platform {

// libjack keeps the state of one server per process (its shared graph, engine and registry). A
// client opened for a server that came back while a client of the server that went away is still
// open shares that state with it, and closing the old one then crashes inside libjack. Every JACK
// client of the process therefore opens and closes through this gate: no client is opened while
// a client whose server went away is still open.
namespace jack_client_gate {

// Opens a client (never starting a server); null when no server answers, or while a client of a
// server that went away is still to be closed (try again later). Blocking.
jack_client_t* open(const std::string& name);

// Called from a client's shutdown callback, once per client, when its server goes away; the
// client's `lost` flag is set with it.
void lost();

// Closes a client. `lost` is read once the close is through (libjack has stopped the client's
// threads then, so its shutdown callback has run or never will): true when lost() was called
// for this client. Blocking.
void close(jack_client_t* client, const std::atomic<bool>& lost);

}  // namespace jack_client_gate

}  // namespace kestio::platform
