// JACK servers starting, dying and failing to start around running clients, as on a machine where
// other programs run servers of their own and the server table fills up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/midi/jack_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/jack_midi_peer.h"
#include "support/jack_server.h"
#include "support/process_runner.h"

namespace kestio::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kProbe{0xBF, 0x7F, 0x00};

// Seconds of churn; a longer run is asked for with KESTIO_JACK_CHURN_SECONDS.
double churnSeconds() {
    if (const char* text = std::getenv("KESTIO_JACK_CHURN_SECONDS")) {
        return std::max(1.0, std::atof(text));
    }
    return 20.0;
}

// Other clients in the test process sending notes through the churn, with
// KESTIO_JACK_CHURN_PEERS set (a harsher run, for long runs by hand: jackd's own client time-out
// then holds up its server for long stretches).
bool withPeers() {
    return std::getenv("KESTIO_JACK_CHURN_PEERS") != nullptr;
}

// JACK's server table has eight places: these, with the clients' own server, fill it.
constexpr int kOtherServers = 8;

// The churn: the clients' server is started and killed (SIGKILL, mid-start too), and other
// servers are started and stopped beside it until the table is full and starts fail. Runs on a
// thread of its own; everything it started is gone when it ends. Its pauses make the churn's
// rhythm; nothing waits on them.
class ServerChurn {
  public:
    ServerChurn(test::JackServer& own, double seconds)
        : own_(own), thread_([this, seconds] { run(seconds); }) {}
    ~ServerChurn() { thread_.join(); }

    bool done() const { return done_.load(); }
    int ownStarts() const { return ownStarts_.load(); }

  private:
    void run(double seconds) {
        const auto seed =
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::mt19937 random(seed);
        std::vector<std::unique_ptr<test::BackgroundProcess>> others(kOtherServers);
        const auto pause = [&](int maxMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % (maxMs + 1)));
        };
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            const auto pick = random() % 10;
            if (pick < 6) {
                if (!own_.start()) {
                    continue;
                }
                ownStarts_.fetch_add(1);
                if (pick < 3 || !withPeers()) {
                    pause(pick < 3 ? 50 : 1500);  // killed as the clients open, or later
                    own_.kill();
                    continue;
                }
                // Killed while notes flow both ways through the clients.
                auto device = test::JackMidiPeer::source("KestioTestDevice", "out");
                auto synth = test::JackMidiPeer::destination(
                    "KestioTestSynth", "in", [](const std::uint8_t*, std::size_t) {});
                const auto until =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(random() % 1500);
                while (std::chrono::steady_clock::now() < until) {
                    device.send({0x90, 0x3C, 0x64});
                    pause(5);
                }
                own_.kill();
                // The peers close once they heard of it (see the product's clients).
                const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while ((!device.serverLost() || !synth.serverLost()) &&
                       std::chrono::steady_clock::now() < guard) {
                    pause(5);
                }
            } else {
                auto& other = others[random() % kOtherServers];
                if (other && other->running() && pick == 9) {
                    other.reset();  // stops it
                } else if (!other || !other->running()) {
                    other = std::make_unique<test::BackgroundProcess>(std::vector<std::string>{
                        "jackd", "-n", "kestio-churn-" + std::to_string(&other - &others[0]),
                        "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256"});
                }
                pause(200);
            }
        }
        own_.kill();
        others.clear();
        done_.store(true);
    }

    test::JackServer& own_;
    std::atomic<bool> done_{false};
    std::atomic<int> ownStarts_{0};
    std::thread thread_;
};

std::vector<std::string> ids(const std::vector<MIDIEndpoint>& endpoints) {
    std::vector<std::string> out;
    for (const auto& e : endpoints) {
        out.push_back(e.id);
    }
    return out;
}

// An input client and an output client (as the application has) poll their server while it comes
// and goes, dies as they open, and fails to start. Nothing crashes (the sanitizer build catches
// a callback into a client already freed), and once the server is back for good both clients
// carry notes again.
TEST(JackMIDIChurn, ClientsLiveThroughServersThatComeGoAndFailToStartAroundThem) {
    test::JackServer own(test::JackServer::Start::later);
    ManualRunLoop loop;
    JackMIDISystem system(loop, 1.0);
    std::mutex mutex;
    std::vector<Bytes> received;
    auto input = system.createClient("KestioMIDIClient", {});
    auto output = system.createClient("KestioMIDIOutputClient", {});
    ASSERT_TRUE(input.client && output.client);
    ASSERT_EQ(input.client->createInputPort("KestioInputPort",
                                            [&](const std::uint8_t* bytes, std::size_t n) {
                                                std::lock_guard lock(mutex);
                                                received.emplace_back(bytes, bytes + n);
                                            }),
              kMIDIStatusOK);
    ASSERT_EQ(output.client->createOutputPort("KestioOutputPort"), kMIDIStatusOK);

    {
        ServerChurn churn(own, churnSeconds());
        // The clients poll (one run-loop second each turn) and use what they find.
        while (!churn.done()) {
            loop.advance(1.0);
            loop.waitForPosted(0.01);
            for (const auto& id : ids(input.client->sources())) {
                input.client->connectSource(id);
            }
            for (const auto& id : ids(output.client->destinations())) {
                output.client->send(id, {0x91, 0x3C, 0x64});
            }
        }
        EXPECT_GT(churn.ownStarts(), 3) << "the churn hardly ran";
    }

    // The server is back for good: both clients find it and carry notes.
    ASSERT_TRUE(own.start()) << own.failure();
    auto device = test::JackMidiPeer::source("KestioTestDevice", "out");
    ASSERT_TRUE(device.opened());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool through = false;
    while (!through && std::chrono::steady_clock::now() < deadline) {
        loop.advance(1.0);
        loop.waitForPosted(0.05);
        if (input.client->connectSource(device.portName()) == kMIDIStatusOK) {
            device.send(kProbe);
        }
        std::lock_guard lock(mutex);
        through = std::find(received.begin(), received.end(), kProbe) != received.end();
    }
    EXPECT_TRUE(through) << "the input client never carried notes again";
    EXPECT_FALSE(ids(input.client->sources()).empty());
}

}  // namespace
}  // namespace kestio::platform
