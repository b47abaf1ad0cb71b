#pragma once

#include <sys/types.h>

#include <string>

namespace kestio::platform::audio {

// RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus): the desktop's service that moves
// a thread of an ordinary user's process to real-time scheduling, as sound servers ask it to for
// their own threads. The system bus is the one DBUS_SYSTEM_BUS_ADDRESS names where it is set.
//
// Asks it to schedule thread `thread` of this process under the real-time round-robin policy at
// `priority` (reset on fork). RealtimeKit grants only to a process whose real-time CPU time is
// limited (RLIMIT_RTTIME) to at most what it allows: the limit is lowered to that first. Waits for
// the answer (a second at most). Empty when granted, else why not ("RealtimeKit is not there"
// when nothing on the bus answers to its name).
std::string askRealtimeKit(pid_t thread, int priority);

}  // namespace kestio::platform::audio
