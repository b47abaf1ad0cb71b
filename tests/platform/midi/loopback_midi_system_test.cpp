#include "platform/midi/loopback_midi_system.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LoopbackMIDISystem, DeliversPacketsOfConnectedSourcesOnTheSendingThread) {
    ManualRunLoop loop;
    LoopbackMIDISystem system(loop);
    const auto keys = system.addSource("Keys");
    const auto pads = system.addSource(std::nullopt);
    auto result = system.createClient("Listener", {});
    ASSERT_TRUE(result.client);

    std::vector<Bytes> got;
    std::thread::id gotOn;
    ASSERT_EQ(result.client->createInputPort("in",
                                             [&](const std::uint8_t* b, std::size_t n) {
                                                 got.emplace_back(b, b + n);
                                                 gotOn = std::this_thread::get_id();
                                             }),
              kMIDIStatusOK);
    ASSERT_EQ(result.client->connectSource(keys), kMIDIStatusOK);

    std::thread sender([&] {
        system.sendFromSource(keys, {0x90, 0x3C, 0x64});
        system.sendFromSource(pads, {0x90, 0x24, 0x7F});  // not connected
    });
    const auto senderId = sender.get_id();
    sender.join();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], (Bytes{0x90, 0x3C, 0x64}));
    EXPECT_EQ(gotOn, senderId);

    const auto sources = result.client->sources();
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].displayName, "Keys");
    EXPECT_EQ(sources[1].displayName, std::nullopt);

    result.client->disconnectSource(keys);
    system.sendFromSource(keys, {0x80, 0x3C, 0x00});
    EXPECT_EQ(got.size(), 1u);
}

TEST(LoopbackMIDISystem, AnnouncesChangesOnTheRunLoopOnlyToLiveClients) {
    ManualRunLoop loop;
    LoopbackMIDISystem system(loop);
    int first = 0;
    int second = 0;
    auto a = system.createClient("A", [&] { ++first; });
    auto b = system.createClient("B", [&] { ++second; });
    const auto id = system.addDestination("Synth");
    EXPECT_EQ(first, 0) << "announcements are deferred to the run loop";
    b.client.reset();
    loop.runPending();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);

    ASSERT_EQ(a.client->createOutputPort("out"), kMIDIStatusOK);
    EXPECT_EQ(a.client->send(id, {0xB0, 7, 100}), kMIDIStatusOK);
    EXPECT_EQ(system.received(id), (std::vector<Bytes>{{0xB0, 7, 100}}));
    system.removeDestination(id);
    EXPECT_NE(a.client->send(id, {0xB0, 7, 100}), kMIDIStatusOK);
}

TEST(LoopbackMIDISystem, ReportsTheFailuresItIsToldToGive) {
    ManualRunLoop loop;
    LoopbackMIDISystem system(loop);
    system.failClientCreation(-50);
    auto none = system.createClient("A", {});
    EXPECT_FALSE(none.client);
    EXPECT_EQ(none.status, -50);

    system.failClientCreation(kMIDIStatusOK);
    system.failInputPortCreation(-10830);
    auto client = system.createClient("A", {});
    ASSERT_TRUE(client.client);
    EXPECT_EQ(client.client->createInputPort("in", {}), -10830);
}

}  // namespace
}  // namespace kestio::platform
