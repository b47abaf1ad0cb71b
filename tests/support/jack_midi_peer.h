#pragma once

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestio::test {

// Another JACK client for tests to talk MIDI with: one port, registered before the client is
// activated, on the server JACK_DEFAULT_SERVER names. A sending peer has an output port (a
// source for the product), a receiving one an input port (a destination). It survives its server:
// once the server is gone it does nothing but close.
class JackMidiPeer {
  public:
    using Handler = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

    // A source named "<client>:<port>"; send() queues a message for its next cycle. With `busy`,
    // its every cycle takes that long, and the clients it feeds run after it: late in the cycle.
    static JackMidiPeer source(const std::string& client, const std::string& port,
                               std::chrono::microseconds busy = {});
    // A destination; `onMessage` runs on JACK's process thread for every message received.
    static JackMidiPeer destination(const std::string& client, const std::string& port,
                                    Handler onMessage);

    JackMidiPeer(JackMidiPeer&& other) noexcept;
    JackMidiPeer& operator=(JackMidiPeer&&) = delete;
    ~JackMidiPeer();

    bool opened() const { return state_ != nullptr; }
    bool serverLost() const;
    // The port's full name, as the product lists it.
    std::string portName() const;
    // True while the port has a connection to another port (the product's, say).
    bool connected() const;
    void send(const std::vector<std::uint8_t>& bytes);

  private:
    struct State;
    explicit JackMidiPeer(State* state) : state_(state) {}
    static JackMidiPeer open(const std::string& client, const std::string& port, bool output,
                             Handler onMessage, std::chrono::microseconds busy = {});

    State* state_ = nullptr;
};

}  // namespace kestio::test
