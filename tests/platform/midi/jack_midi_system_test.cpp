// Real MIDI through a private JACK server on the dummy driver, with other JACK clients.
#include "platform/midi/jack_midi_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/runloop/manual_run_loop.h"
#include "support/jack_midi_peer.h"
#include "support/jack_server.h"
#include "support/required_server.h"

namespace kestio::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::JackMidiPeer;
constexpr auto kGuard = std::chrono::seconds(10);
// JACK puts a new connection into its graph a few cycles later: this harmless control change is
// sent until one gets through. More than one may be on its way by then.
const Bytes kProbe{0xBF, 0x7F, 0x00};

// Packets gathered from another thread; waits on a condition with a wall-clock guard.
class PacketInbox {
  public:
    void add(const std::uint8_t* bytes, std::size_t n) {
        std::lock_guard lock(mutex_);
        if (primed_ && Bytes(bytes, bytes + n) == kProbe) {
            return;
        }
        packets_.emplace_back(bytes, bytes + n);
        changed_.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return packets_.size() >= count; });
    }
    // Waits up to `seconds` for a packet (a short wait inside a retry loop).
    bool waitBriefly(double seconds) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&] { return !packets_.empty(); });
    }
    // Once a probe got through: forgets the packets so far, and drops probes still to come.
    void primed() {
        std::lock_guard lock(mutex_);
        packets_.clear();
        primed_ = true;
    }
    // Starts over for a new connection: probes count again.
    void reset() {
        std::lock_guard lock(mutex_);
        packets_.clear();
        primed_ = false;
    }
    std::vector<Bytes> packets() const {
        std::lock_guard lock(mutex_);
        return packets_;
    }
    MIDIPacketHandler handler() {
        return [this](const std::uint8_t* b, std::size_t n) { add(b, n); };
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> packets_;
    bool primed_ = false;
};

std::vector<std::string> ids(const std::vector<MIDIEndpoint>& endpoints) {
    std::vector<std::string> out;
    for (const auto& e : endpoints) {
        out.push_back(e.id);
    }
    return out;
}
bool contains(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}
bool anyMentions(const std::vector<std::string>& list, const std::string& s) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& e) { return e.find(s) != std::string::npos; });
}

// Sends `send` until `inbox` gets something: the connection then carries messages.
template <class Send>
bool prime(PacketInbox& inbox, Send send) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        send();
        if (inbox.waitBriefly(0.1)) {
            inbox.primed();
            return true;
        }
    }
    return false;
}

class JackMIDI : public test::JackServerTest {
  protected:
    // Runs the client's polls (one per second of the run loop's time) until `done` holds. Opening
    // a client again happens on a worker thread, which wakes the loop when it is through.
    template <class Pred>
    bool pollUntil(Pred done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            loop_.advance(1.0);
            loop_.waitForPosted(0.05);
            loop_.runPending();
        }
        return true;
    }

    ManualRunLoop loop_;
};

TEST_F(JackMIDI, ReceivesPacketsOfAnotherClientUnchangedAndNeverListsItsOwnPorts) {
    JackMIDISystem system(loop_);
    auto result = system.createClient("KestioMIDIClient", {});
    ASSERT_TRUE(result.client) << "status " << result.status;
    auto& client = *result.client;

    auto sender = JackMidiPeer::source("KestioTestSender", "out");
    ASSERT_TRUE(sender.opened());

    PacketInbox inbox;
    ASSERT_EQ(client.createInputPort("KestioInputPort", inbox.handler()), kMIDIStatusOK);
    ASSERT_TRUE(pollUntil([&] { return contains(ids(client.sources()), sender.portName()); }));
    ASSERT_EQ(client.connectSource(sender.portName()), kMIDIStatusOK);
    ASSERT_TRUE(prime(inbox, [&] { sender.send(kProbe); }));

    const Bytes noteOnOff{0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00};
    sender.send(noteOnOff);
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(inbox.packets().front(), noteOnOff);

    // Our input port must not look like a destination, nor anything of ours like a source.
    EXPECT_FALSE(anyMentions(ids(client.sources()), "KestioMIDIClient"));
    EXPECT_FALSE(anyMentions(ids(client.destinations()), "KestioMIDIClient"));
}

TEST_F(JackMIDI, SendsExactBytesToTheChosenDestinationOnly) {
    JackMIDISystem system(loop_);
    auto result = system.createClient("KestioMIDIOutputClient", {});
    ASSERT_TRUE(result.client);
    auto& client = *result.client;

    PacketInbox first;
    PacketInbox second;
    auto sinkA = JackMidiPeer::destination("KestioTestSinkA", "in", first.handler());
    auto sinkB = JackMidiPeer::destination("KestioTestSinkB", "in", second.handler());
    ASSERT_TRUE(sinkA.opened() && sinkB.opened());

    ASSERT_EQ(client.createOutputPort("KestioOutputPort"), kMIDIStatusOK);
    ASSERT_TRUE(pollUntil([&] { return client.destinations().size() >= 2; }));
    const auto destinations = ids(client.destinations());
    ASSERT_TRUE(contains(destinations, sinkA.portName()));
    ASSERT_TRUE(contains(destinations, sinkB.portName()));
    EXPECT_FALSE(anyMentions(ids(client.sources()), "KestioMIDIOutputClient"));

    client.prepareDestination(sinkA.portName());
    ASSERT_TRUE(prime(first, [&] { client.send(sinkA.portName(), kProbe); }));
    ASSERT_EQ(client.send(sinkA.portName(), {0x92, 0x3C, 0x64}), kMIDIStatusOK);
    ASSERT_EQ(client.send(sinkA.portName(), {0x82, 0x3C, 0x00}), kMIDIStatusOK);
    ASSERT_TRUE(first.waitFor(2));
    EXPECT_EQ(first.packets(), (std::vector<Bytes>{{0x92, 0x3C, 0x64}, {0x82, 0x3C, 0x00}}));

    // Another destination takes over the port: what is sent to it never reaches the first, not
    // even while the port is being connected anew.
    first.reset();
    ASSERT_TRUE(prime(second, [&] { client.send(sinkB.portName(), kProbe); }));
    ASSERT_EQ(client.send(sinkB.portName(), {0x95, 0x40, 0x01}), kMIDIStatusOK);
    ASSERT_TRUE(second.waitFor(1));
    EXPECT_EQ(second.packets(), (std::vector<Bytes>{{0x95, 0x40, 0x01}}));
    EXPECT_FALSE(first.waitBriefly(0.2)) << "the first destination heard the second's messages";
}

// The port hops between two destinations, one message per hop: each reaches the destination it
// was sent to, and never the other. A busy source feeds the client, so the client's part of each
// cycle comes late and a connection often changes while a cycle is under way.
TEST_F(JackMIDI, EachHopBetweenDestinationsDeliversOnlyToTheChosenOne) {
    JackMIDISystem system(loop_);
    auto result = system.createClient("KestioMIDIOutputClient", {});
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    // Over a third of a cycle (256 frames at 48 kHz: 5.3 ms).
    auto busy = JackMidiPeer::source("KestioTestBusy", "out", std::chrono::microseconds(2000));
    ASSERT_TRUE(busy.opened());
    ASSERT_EQ(client.createInputPort("KestioInputPort", [](const std::uint8_t*, std::size_t) {}),
              kMIDIStatusOK);

    PacketInbox inboxes[2];
    JackMidiPeer sinks[2] = {
        JackMidiPeer::destination("KestioTestSinkA", "in", inboxes[0].handler()),
        JackMidiPeer::destination("KestioTestSinkB", "in", inboxes[1].handler())};
    ASSERT_TRUE(sinks[0].opened() && sinks[1].opened());
    ASSERT_EQ(client.createOutputPort("KestioOutputPort"), kMIDIStatusOK);
    ASSERT_TRUE(pollUntil([&] {
        return client.destinations().size() >= 2 &&
               contains(ids(client.sources()), busy.portName());
    }));
    ASSERT_EQ(client.connectSource(busy.portName()), kMIDIStatusOK);
    ASSERT_TRUE(pollUntil([&] { return busy.connected(); }));

    constexpr int kHops = 40;
    for (int hop = 0; hop < kHops; ++hop) {
        const int to = hop % 2;
        const Bytes note{0x90, static_cast<std::uint8_t>(hop), static_cast<std::uint8_t>(to)};
        // A server on a starved machine may drop a message now and then: it is sent again, to
        // the same destination. Nothing may ever reach the other one.
        bool arrived = false;
        for (int attempt = 0; attempt < 20 && !arrived; ++attempt) {
            ASSERT_EQ(client.send(sinks[to].portName(), note), kMIDIStatusOK);
            arrived = inboxes[to].waitBriefly(0.5);
        }
        ASSERT_TRUE(arrived) << "hop " << hop << " never arrived";
        for (const auto& packet : inboxes[to].packets()) {
            EXPECT_EQ(packet, note) << "hop " << hop;
        }
        ASSERT_TRUE(inboxes[1 - to].packets().empty())
            << "hop " << hop << " also reached the other destination";
        inboxes[0].reset();
        inboxes[1].reset();
    }
}

TEST_F(JackMIDI, PollingNoticesSourcesThatComeAndGo) {
    JackMIDISystem system(loop_, 1.0);
    int changes = 0;
    auto result = system.createClient("KestioMIDIClient", [&] { ++changes; });
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    ASSERT_EQ(client.createInputPort("KestioInputPort", [](const std::uint8_t*, std::size_t) {}),
              kMIDIStatusOK);
    // A server with nothing but our own ports on it is no change (the next count shows it).
    loop_.advance(3.0);
    loop_.waitForPosted(0.5);

    auto device = std::make_unique<JackMidiPeer>(JackMidiPeer::source("KestioTestDevice", "out"));
    const auto id = device->portName();
    ASSERT_TRUE(pollUntil([&] { return changes > 0; }));
    EXPECT_EQ(changes, 1);
    ASSERT_TRUE(contains(ids(client.sources()), id));
    ASSERT_EQ(client.connectSource(id), kMIDIStatusOK);

    device.reset();
    ASSERT_TRUE(pollUntil([&] { return changes > 1; }));
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(contains(ids(client.sources()), id));
    client.disconnectSource(id);
}

TEST_F(JackMIDI, UnknownEndpointsAndMissingPortsAreRefused) {
    JackMIDISystem system(loop_);
    auto result = system.createClient("KestioMIDIClient", {});
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    EXPECT_EQ(client.connectSource("Nobody:out"), JackMIDISystem::kNoPort);
    EXPECT_EQ(client.send("Nobody:in", {0x90, 1, 1}), JackMIDISystem::kNoPort);
    ASSERT_EQ(client.createInputPort("KestioInputPort", [](const std::uint8_t*, std::size_t) {}),
              kMIDIStatusOK);
    ASSERT_EQ(client.createOutputPort("KestioOutputPort"), kMIDIStatusOK);
    ASSERT_TRUE(
        pollUntil([&] { return client.connectSource("Nobody:out") != JackMIDISystem::kNoServer; }));
    EXPECT_EQ(client.connectSource("Nobody:out"), JackMIDISystem::kUnknownEndpoint);
    EXPECT_EQ(client.send("Nobody:in", {0x90, 1, 1}), JackMIDISystem::kUnknownEndpoint);
}

// Notes flow both ways through one client (an input and an output port on it) between two
// peers, until the server is killed, and again once it is back.
TEST_F(JackMIDI, OutlivesAServerKilledWhileNotesFlowBothWaysAndPlaysOnWhenItReturns) {
    PacketInbox fromDevice;
    PacketInbox atSynth;
    auto device = std::make_unique<JackMidiPeer>(JackMidiPeer::source("KestioTestDevice", "out"));
    auto synth = std::make_unique<JackMidiPeer>(
        JackMidiPeer::destination("KestioTestSynth", "in", atSynth.handler()));
    ASSERT_TRUE(device->opened() && synth->opened());
    const auto deviceId = device->portName();
    const auto synthId = synth->portName();

    JackMIDISystem system(loop_, 1.0);
    int changes = 0;
    auto result = system.createClient("KestioMIDIClient", [&] { ++changes; });
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    ASSERT_EQ(client.createInputPort("KestioInputPort", fromDevice.handler()), kMIDIStatusOK);
    ASSERT_EQ(client.createOutputPort("KestioOutputPort"), kMIDIStatusOK);
    ASSERT_TRUE(pollUntil([&] { return changes > 0; }));

    const auto flowBothWays = [&] {
        fromDevice.reset();
        atSynth.reset();
        const auto synthNow = synth->portName();
        if (client.connectSource(device->portName()) != kMIDIStatusOK) {
            return ::testing::AssertionFailure() << "cannot connect the device";
        }
        if (!prime(fromDevice, [&] { device->send(kProbe); }) ||
            !prime(atSynth, [&] { client.send(synthNow, kProbe); })) {
            return ::testing::AssertionFailure() << "the connections carry nothing";
        }
        device->send({0x90, 0x30, 0x40});
        if (client.send(synthId, {0x91, 0x31, 0x41}) != kMIDIStatusOK || !fromDevice.waitFor(1) ||
            !atSynth.waitFor(1)) {
            return ::testing::AssertionFailure() << "a note was lost";
        }
        if (fromDevice.packets().front() != Bytes{0x90, 0x30, 0x40} ||
            atSynth.packets().front() != Bytes{0x91, 0x31, 0x41}) {
            return ::testing::AssertionFailure() << "a note arrived changed";
        }
        return ::testing::AssertionSuccess();
    };
    ASSERT_TRUE(flowBothWays());
    loop_.advance(1.0);
    loop_.waitForPosted(0.5);
    ASSERT_EQ(changes, 1) << "the server's first answer, with both peers, is one change";

    // Notes keep going while the server dies under them.
    for (int i = 0; i < 50; ++i) {
        device->send({0x90, 0x30, 0x40});
        client.send(synthId, {0x91, 0x31, 0x41});
    }
    server_->kill();
    // Sending goes on through the moment the server's notice arrives on libjack's thread:
    // queued until then, refused from then on, never a crash.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (client.send(synthId, {0x91, 0x31, 0x41}) != JackMIDISystem::kNoServer &&
           std::chrono::steady_clock::now() < guard) {
    }

    ASSERT_TRUE(pollUntil([&] { return changes > 1; })) << "the loss was never published";
    EXPECT_TRUE(client.sources().empty()) << "the sources of a dead server are still listed";
    EXPECT_TRUE(client.destinations().empty());
    EXPECT_EQ(client.send(synthId, {0x90, 1, 1}), JackMIDISystem::kNoServer);
    EXPECT_EQ(client.connectSource(deviceId), JackMIDISystem::kNoServer);

    // The server comes back; so do the peers, under their old names.
    device.reset();
    synth.reset();
    ASSERT_TRUE(server_->start()) << server_->failure();
    device = std::make_unique<JackMidiPeer>(JackMidiPeer::source("KestioTestDevice", "out"));
    synth = std::make_unique<JackMidiPeer>(
        JackMidiPeer::destination("KestioTestSynth", "in", atSynth.handler()));
    ASSERT_TRUE(device->opened() && synth->opened());
    ASSERT_TRUE(pollUntil([&] {
        const auto sources = ids(client.sources());
        return contains(sources, device->portName()) &&
               contains(ids(client.destinations()), synth->portName());
    })) << "the endpoints did not return";
    EXPECT_FALSE(anyMentions(ids(client.sources()), "KestioMIDIClient"));
    EXPECT_TRUE(flowBothWays());
}

// The handler of incoming messages may take its time (it locks, allocates and posts to the run
// loop): while it is busy with one message the client's JACK cycles go on, so what it sends
// still goes out, and what comes in meanwhile is handed over afterwards, in order.
TEST_F(JackMIDI, AHandlerThatTakesItsTimeHoldsUpNoCycleAndLosesNothing) {
    const Bytes kHold{0x90, 0x20, 0x7F};
    PacketInbox incoming;
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateOpen = false;
    const auto openGate = [&] {
        std::lock_guard lock(gateMutex);
        gateOpen = true;
        gateChanged.notify_all();
    };
    // Whatever fails below, the handler is let go before the client closes.
    struct OpenAtEnd {
        std::function<void()> open;
        ~OpenAtEnd() { open(); }
    } openAtEnd{openGate};
    const MIDIPacketHandler slow = [&](const std::uint8_t* bytes, std::size_t n) {
        incoming.add(bytes, n);
        if (Bytes(bytes, bytes + n) == kHold) {
            std::unique_lock lock(gateMutex);
            gateChanged.wait_for(lock, std::chrono::seconds(30), [&] { return gateOpen; });
        }
    };

    PacketInbox atSynth;
    auto device = JackMidiPeer::source("KestioTestDevice", "out");
    auto synth = JackMidiPeer::destination("KestioTestSynth", "in", atSynth.handler());
    ASSERT_TRUE(device.opened() && synth.opened());
    JackMIDISystem system(loop_);
    auto result = system.createClient("KestioMIDIClient", {});
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    ASSERT_EQ(client.createInputPort("KestioInputPort", slow), kMIDIStatusOK);
    ASSERT_EQ(client.createOutputPort("KestioOutputPort"), kMIDIStatusOK);
    ASSERT_TRUE(pollUntil([&] { return contains(ids(client.sources()), device.portName()); }));
    ASSERT_EQ(client.connectSource(device.portName()), kMIDIStatusOK);
    client.prepareDestination(synth.portName());
    ASSERT_TRUE(prime(incoming, [&] { device.send(kProbe); }));
    ASSERT_TRUE(prime(atSynth, [&] { client.send(synth.portName(), kProbe); }));

    device.send(kHold);
    ASSERT_TRUE(incoming.waitFor(1));  // the handler now holds on to it
    device.send({0x90, 0x21, 0x40});
    device.send({0x80, 0x21, 0x00});
    ASSERT_EQ(client.send(synth.portName(), {0x91, 0x31, 0x41}), kMIDIStatusOK);
    EXPECT_TRUE(atSynth.waitFor(1)) << "the client's cycles stopped while its handler was busy";

    openGate();
    ASSERT_TRUE(incoming.waitFor(3));
    EXPECT_EQ(incoming.packets(),
              (std::vector<Bytes>{kHold, {0x90, 0x21, 0x40}, {0x80, 0x21, 0x00}}));
}

// Creating a client waits for no answer of the server: until the answer has come back through
// the run loop, the client has no endpoints; taking it is one set-up change.
TEST_F(JackMIDI, CreatingAClientWaitsForNoAnswerAndTheAnswerComesAsASetupChange) {
    auto device = JackMidiPeer::source("KestioTestDevice", "out");
    ASSERT_TRUE(device.opened());
    JackMIDISystem system(loop_, 1.0);
    int changes = 0;
    auto result = system.createClient("KestioMIDIClient", [&] { ++changes; });
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    PacketInbox inbox;
    ASSERT_EQ(client.createInputPort("KestioInputPort", inbox.handler()), kMIDIStatusOK);
    EXPECT_TRUE(client.sources().empty()) << "the client waited for the server's answer";
    EXPECT_EQ(client.connectSource(device.portName()), JackMIDISystem::kNoServer);
    EXPECT_EQ(changes, 0);

    ASSERT_TRUE(loop_.waitForPosted(10.0)) << "the server's answer never came";
    EXPECT_EQ(changes, 1);
    ASSERT_TRUE(contains(ids(client.sources()), device.portName()));
    ASSERT_EQ(client.connectSource(device.portName()), kMIDIStatusOK);
    ASSERT_TRUE(prime(inbox, [&] { device.send(kProbe); }));
}

// A server that hangs holds up nothing on the main thread: making a client, its ports, sends and
// polls all return while the server is frozen (a guard thaws it if they do not, and the test
// fails), and the client connects once the server answers again.
TEST_F(JackMIDI, AFrozenServerStallsNothingAndTheClientConnectsWhenItThaws) {
    auto device = JackMidiPeer::source("KestioTestDevice", "out");
    ASSERT_TRUE(device.opened());

    std::mutex mutex;
    std::condition_variable done;
    bool mainThreadThrough = false;
    server_->freeze();
    std::thread guard([&] {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, std::chrono::seconds(20), [&] { return mainThreadThrough; })) {
            server_->thaw();  // the main thread is stuck on the server: let it go, and fail
        }
    });
    JackMIDISystem system(loop_, 1.0);
    int changes = 0;
    auto result = system.createClient("KestioMIDIClient", [&] { ++changes; });
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    PacketInbox inbox;
    EXPECT_EQ(client.createInputPort("KestioInputPort", inbox.handler()), kMIDIStatusOK);
    EXPECT_EQ(client.createOutputPort("KestioOutputPort"), kMIDIStatusOK);
    loop_.advance(5.0);  // five polls
    EXPECT_EQ(client.send(device.portName(), {0x90, 1, 1}), JackMIDISystem::kNoServer);
    {
        std::lock_guard lock(mutex);
        mainThreadThrough = true;
    }
    done.notify_all();
    guard.join();
    EXPECT_TRUE(client.sources().empty());
    EXPECT_EQ(changes, 0);

    server_->thaw();
    ASSERT_TRUE(pollUntil([&] { return contains(ids(client.sources()), device.portName()); }));
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(client.connectSource(device.portName()), kMIDIStatusOK);
    ASSERT_TRUE(prime(inbox, [&] { device.send(kProbe); }));
}

// A client made while no server answers yet works once one does, at a later poll.
TEST(JackMIDIWithoutServer, AClientMadeBeforeItsServerAnswersConnectsWhenItComes) {
    test::JackServer server(test::JackServer::Start::later);
    ManualRunLoop loop;
    JackMIDISystem system(loop, 1.0);
    int changes = 0;
    auto result = system.createClient("KestioMIDIClient", [&] { ++changes; });
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    PacketInbox inbox;
    EXPECT_EQ(client.createInputPort("KestioInputPort", inbox.handler()), kMIDIStatusOK);
    EXPECT_TRUE(client.sources().empty());
    EXPECT_EQ(client.connectSource("KestioTestDevice:out"), JackMIDISystem::kNoServer);
    loop.advance(3.0);  // polls meet no server, and say nothing
    EXPECT_EQ(changes, 0);

    if (!server.start()) {
        return test::serverCannotStart("JACK", server.failure());
    }
    auto device = JackMidiPeer::source("KestioTestDevice", "out");
    ASSERT_TRUE(device.opened());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!contains(ids(client.sources()), device.portName()) &&
           std::chrono::steady_clock::now() < deadline) {
        loop.advance(1.0);
        loop.waitForPosted(0.05);
        loop.runPending();
    }
    ASSERT_TRUE(contains(ids(client.sources()), device.portName()));
    EXPECT_GE(changes, 1);
    ASSERT_EQ(client.connectSource(device.portName()), kMIDIStatusOK);
    ASSERT_TRUE(prime(inbox, [&] { device.send(kProbe); }));
    device.send({0x90, 0x3C, 0x64});
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(inbox.packets().front(), (Bytes{0x90, 0x3C, 0x64}));
}

}  // namespace
}  // namespace kestio::platform
