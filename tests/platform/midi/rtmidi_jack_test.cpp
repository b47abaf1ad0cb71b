// Real MIDI through a private JACK server on the dummy driver.
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/midi/rtmidi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/jack_server.h"

namespace kestio::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
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
    std::vector<Bytes> packets() const {
        std::lock_guard lock(mutex_);
        return packets_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> packets_;
    bool primed_ = false;
};

class RtMidiJack : public test::JackServerTest {
  protected:
    static std::vector<std::string> ids(const std::vector<MIDIEndpoint>& endpoints) {
        std::vector<std::string> out;
        for (const auto& e : endpoints) {
            out.push_back(e.id);
        }
        return out;
    }
    static bool contains(const std::vector<std::string>& list, const std::string& s) {
        return std::find(list.begin(), list.end(), s) != list.end();
    }
    static bool anyMentions(const std::vector<std::string>& list, const std::string& s) {
        return std::any_of(list.begin(), list.end(),
                           [&](const std::string& e) { return e.find(s) != std::string::npos; });
    }

    ManualRunLoop loop_;
};

TEST_F(RtMidiJack, ReceivesPacketsOfAnotherClientUnchangedAndNeverListsItsOwnPorts) {
    RtMidiSystem system(loop_, MIDIApi::jack);
    ASSERT_EQ(system.api(), MIDIApi::jack);
    auto result = system.createClient("KestioMIDIClient", {});
    ASSERT_TRUE(result.client) << "status " << result.status;
    auto& client = *result.client;

    RtMidiOut sender(RtMidi::UNIX_JACK, "KestioTestSender");
    sender.openVirtualPort("out");

    PacketInbox inbox;
    ASSERT_EQ(client.createInputPort("KestioInputPort", [&](const std::uint8_t* b,
                                                            std::size_t n) { inbox.add(b, n); }),
              kMIDIStatusOK);
    const auto sources = ids(client.sources());
    ASSERT_TRUE(contains(sources, "KestioTestSender:out"));
    ASSERT_EQ(client.connectSource("KestioTestSender:out"), kMIDIStatusOK);

    bool primed = false;
    for (int attempt = 0; attempt < 100 && !primed; ++attempt) {
        sender.sendMessage(kProbe.data(), kProbe.size());
        primed = inbox.waitBriefly(0.1);
    }
    ASSERT_TRUE(primed);
    inbox.primed();

    const Bytes noteOnOff{0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00};
    sender.sendMessage(noteOnOff.data(), noteOnOff.size());
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(inbox.packets().front(), noteOnOff);

    // Our input port (and the helper clients behind it) must not look like destinations,
    // nor anything of ours like a source.
    EXPECT_FALSE(anyMentions(ids(client.sources()), "KestioMIDIClient"));
    for (const auto& id : ids(client.destinations())) {
        EXPECT_EQ(id.find("KestioMIDIClient"), std::string::npos) << id;
    }
}

TEST_F(RtMidiJack, SendsExactBytesToADestination) {
    RtMidiSystem system(loop_, MIDIApi::jack);
    auto result = system.createClient("KestioMIDIOutputClient", {});
    ASSERT_TRUE(result.client);
    auto& client = *result.client;

    PacketInbox inbox;
    RtMidiIn sink(RtMidi::UNIX_JACK, "KestioTestSink");
    sink.setCallback([](double, std::vector<unsigned char>* m,
                        void* self) { static_cast<PacketInbox*>(self)->add(m->data(), m->size()); },
                     &inbox);
    sink.openVirtualPort("in");

    ASSERT_EQ(client.createOutputPort("KestioOutputPort"), kMIDIStatusOK);
    const auto destinations = ids(client.destinations());
    ASSERT_TRUE(contains(destinations, "KestioTestSink:in"));
    EXPECT_FALSE(anyMentions(ids(client.sources()), "KestioMIDIOutputClient"));

    client.prepareDestination("KestioTestSink:in");
    bool primed = false;
    for (int attempt = 0; attempt < 100 && !primed; ++attempt) {
        ASSERT_EQ(client.send("KestioTestSink:in", kProbe), kMIDIStatusOK);
        primed = inbox.waitBriefly(0.1);
    }
    ASSERT_TRUE(primed);
    inbox.primed();

    ASSERT_EQ(client.send("KestioTestSink:in", {0x92, 0x3C, 0x64}), kMIDIStatusOK);
    ASSERT_EQ(client.send("KestioTestSink:in", {0x82, 0x3C, 0x00}), kMIDIStatusOK);
    ASSERT_TRUE(inbox.waitFor(2));
    EXPECT_EQ(inbox.packets(), (std::vector<Bytes>{{0x92, 0x3C, 0x64}, {0x82, 0x3C, 0x00}}));
    // The port to the destination is reused, not opened again per message.
    for (const auto& id : ids(client.sources())) {
        EXPECT_EQ(id.find("KestioMIDIOutputClient"), std::string::npos) << id;
    }
}

TEST_F(RtMidiJack, PollingNoticesSourcesThatComeAndGo) {
    RtMidiSystem system(loop_, MIDIApi::jack, 1.0);
    int changes = 0;
    auto result = system.createClient("KestioMIDIClient", [&] { ++changes; });
    ASSERT_TRUE(result.client);
    auto& client = *result.client;
    ASSERT_EQ(client.createInputPort("KestioInputPort", [](const std::uint8_t*, std::size_t) {}),
              kMIDIStatusOK);

    loop_.advance(1.0);
    EXPECT_EQ(changes, 0) << "nothing changed";

    auto device = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "KestioTestDevice");
    device->openVirtualPort("out");
    loop_.advance(1.0);
    EXPECT_EQ(changes, 1);
    ASSERT_TRUE(contains(ids(client.sources()), "KestioTestDevice:out"));
    ASSERT_EQ(client.connectSource("KestioTestDevice:out"), kMIDIStatusOK);

    device.reset();
    loop_.advance(1.0);
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(contains(ids(client.sources()), "KestioTestDevice:out"));
    client.disconnectSource("KestioTestDevice:out");
}

TEST_F(RtMidiJack, ConnectingAnUnknownSourceFails) {
    RtMidiSystem system(loop_, MIDIApi::jack);
    auto result = system.createClient("KestioMIDIClient", {});
    ASSERT_TRUE(result.client);
    ASSERT_EQ(
        result.client->createInputPort("KestioInputPort", [](const std::uint8_t*, std::size_t) {}),
        kMIDIStatusOK);
    EXPECT_NE(result.client->connectSource("Nobody:out"), kMIDIStatusOK);
    EXPECT_NE(result.client->send("Nobody:in", {0x90, 1, 1}), kMIDIStatusOK);
}

}  // namespace
}  // namespace kestio::platform
