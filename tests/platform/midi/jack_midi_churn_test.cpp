// JACK servers starting, dying and failing to start around running clients, as on a machine where
// other programs run servers of their own and the server table fills up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

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

// Says why a run failed, on the standard error of the process that ran it.
int failed(int code, const std::string& why) {
    std::fprintf(stderr, "churn: %s\n", why.c_str());
    return code;
}

// An input client and an output client (as the application has) poll their server while it comes
// and goes, dies as they open, and fails to start; then the server comes back for good. Returns 0
// when both clients carried notes again, else a code of what went wrong.
int churnAndComeBack() {
    test::JackServer own(test::JackServer::Start::later);
    ManualRunLoop loop;
    JackMIDISystem system(loop, 1.0);
    std::mutex mutex;
    std::vector<Bytes> received;
    auto input = system.createClient("KestioMIDIClient", {});
    auto output = system.createClient("KestioMIDIOutputClient", {});
    if (!input.client || !output.client) {
        return failed(2, "no clients");
    }
    if (input.client->createInputPort("KestioInputPort",
                                      [&](const std::uint8_t* bytes, std::size_t n) {
                                          std::lock_guard lock(mutex);
                                          received.emplace_back(bytes, bytes + n);
                                      }) != kMIDIStatusOK ||
        output.client->createOutputPort("KestioOutputPort") != kMIDIStatusOK) {
        return failed(3, "no ports");
    }

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
        if (churn.ownStarts() <= 3) {
            return failed(4, "the churn hardly ran");
        }
    }

    // The server is back for good: both clients find it and carry notes.
    if (!own.start()) {
        return failed(5, own.failure());
    }
    auto device = test::JackMidiPeer::source("KestioTestDevice", "out");
    if (!device.opened()) {
        return failed(6, "the test device did not open");
    }
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
    if (!through) {
        return failed(7, "the input client never carried notes again");
    }
    if (ids(input.client->sources()).empty()) {
        return failed(8, "the input client lists no sources");
    }
    return 0;
}

// The churn runs in a process of its own, which ends with _exit once its clients are closed:
// libjack's threads, cancelled by the servers' deaths, can leave a C library lock held that the
// process's exit handlers then wait on for ever. Nothing crashes (the sanitizer build catches a
// callback into a client already freed), and the clients come back with their server.
TEST(JackMIDIChurn, ClientsLiveThroughServersThatComeGoAndFailToStartAroundThem) {
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const int code = churnAndComeBack();
        std::fflush(nullptr);
        _exit(code);
    }
    const auto guard =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(churnSeconds() + 120.0);
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < guard) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the churn did not end in time";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the churn ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see the churn's line above";
}

}  // namespace
}  // namespace kestio::platform
