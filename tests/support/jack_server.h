#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace kestio::test {

// A private JACK server on the dummy driver (no sound hardware), for tests that carry real
// MIDI between clients. It is started under a unique name, and JACK_DEFAULT_SERVER points
// this process's JACK clients at it until it is stopped. When jackd cannot be started,
// running() is false and failure() tells why (tests skip then).
class JackServer {
  public:
    JackServer();
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool running() const { return pid_ > 0; }
    const std::string& failure() const { return failure_; }
    const std::string& name() const { return name_; }

  private:
    void stop();

    std::string name_;
    pid_t pid_ = -1;
    std::string failure_;
    std::optional<std::string> previousServer_;
    int lockFd_ = -1;
};

}  // namespace kestio::test
