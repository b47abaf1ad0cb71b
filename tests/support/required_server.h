#pragma once

// What a test does when a private server it needs (Xvfb, PulseAudio, JACK) cannot start. Where
// the project's test command runs, it exports KESTIO_SERVERS_REQUIRED=1: there such a test
// fails, naming the server and why, so that a machine where a server cannot run never passes a
// run whose server suites all skipped. A developer running one test program by hand without the
// variable sees the test skipped instead.

#include <string_view>

namespace kestio::test {

// The environment variable the test command sets.
constexpr const char* kServersRequiredVariable = "KESTIO_SERVERS_REQUIRED";

// True when KESTIO_SERVERS_REQUIRED is set to anything but "" or "0".
bool serversRequired();

// Records that `server` could not start, for `why`: a fatal failure where servers are required,
// else a skip. Either way the calling test must go no further: `return serverCannotStart(...)`
// in a test body; in SetUp, the test body is not run after either.
void serverCannotStart(std::string_view server, std::string_view why);

}  // namespace kestio::test
