// JACK servers starting, dying and failing to start around running clients, as on a machine where
// other programs run servers of their own and the server table fills up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// What the churn must have done before the server comes back for good: its clients' server
// started and killed this many times, and the clients found it again (between two kills) this
// many times. A longer run is asked for with KESTIO_JACK_CHURN_CYCLES. Counted, not timed: a
// loaded machine takes longer over each start, and the churn runs as long as it takes.
int churnCycles() {
    if (const char* text = std::getenv("KESTIO_JACK_CHURN_CYCLES")) {
        return std::max(1, std::atoi(text));
    }
    return 20;
}
int churnReunions() {
    return std::max(1, churnCycles() / 3);
}
// How long the churn may take to get there before the test gives up.
constexpr double kChurnGuardSeconds = 180.0;

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
    explicit ServerChurn(test::JackServer& own) : own_(own), thread_([this] { run(); }) {}
    ~ServerChurn() {
        stop();
        thread_.join();
    }

    // Ends the churn after its current step; done() once everything it started is gone.
    void stop() { stopping_.store(true); }
    bool done() const { return done_.load(); }
    // The clients' server: started, and started then killed.
    int ownStarts() const { return ownStarts_.load(); }
    int ownCycles() const { return ownCycles_.load(); }

  private:
    void run() {
        const auto seed =
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::mt19937 random(seed);
        std::vector<std::unique_ptr<test::BackgroundProcess>> others(kOtherServers);
        const auto pause = [&](int maxMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % (maxMs + 1)));
        };
        const auto killOwn = [&] {
            own_.kill();
            ownCycles_.fetch_add(1);
        };
        while (!stopping_.load()) {
            const auto pick = random() % 10;
            if (pick < 6) {
                if (!own_.start()) {
                    continue;
                }
                ownStarts_.fetch_add(1);
                if (pick < 3 || !withPeers()) {
                    pause(pick < 3 ? 50 : 1500);  // killed as the clients open, or later
                    killOwn();
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
                killOwn();
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
    std::atomic<bool> stopping_{false};
    std::atomic<bool> done_{false};
    std::atomic<int> ownStarts_{0};
    std::atomic<int> ownCycles_{0};
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
    if (!own.failure().empty()) {
        return failed(1, own.failure());  // never had its turn to run servers
    }
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
        ServerChurn churn(own);
        // The servers of the churn that both clients had as theirs (a port of no one there is
        // unknown to them, not a server missing): each is a server the clients lived through
        // the death of an earlier one to meet.
        int reunions = 0;
        int lastMet = 0;
        const auto guard =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(kChurnGuardSeconds);
        // The clients poll (one run-loop second each turn) and use what they find.
        while (!churn.done()) {
            loop.advance(1.0);
            loop.waitForPosted(0.01);
            const auto sources = ids(input.client->sources());
            const auto destinations = ids(output.client->destinations());
            for (const auto& id : sources) {
                input.client->connectSource(id);
            }
            for (const auto& id : destinations) {
                output.client->send(id, {0x91, 0x3C, 0x64});
            }
            const int cycle = churn.ownStarts();
            const bool inputHasIt =
                input.client->connectSource("KestioChurnProbe:out") != JackMIDISystem::kNoServer;
            const bool outputHasIt = output.client->send("KestioChurnProbe:in", {0x90, 0x3C, 0}) !=
                                     JackMIDISystem::kNoServer;
            if (inputHasIt && outputHasIt && cycle != lastMet) {
                lastMet = cycle;
                ++reunions;
            }
            if ((churn.ownCycles() >= churnCycles() && reunions >= churnReunions()) ||
                std::chrono::steady_clock::now() > guard) {
                churn.stop();
            }
        }
        if (churn.ownCycles() < churnCycles() || reunions < churnReunions()) {
            return failed(4, "in " + std::to_string(static_cast<int>(kChurnGuardSeconds)) +
                                 " s the churn started and killed the clients' server " +
                                 std::to_string(churn.ownCycles()) + " times of " +
                                 std::to_string(churnCycles()) + ", and the clients met " +
                                 std::to_string(reunions) + " of its servers of " +
                                 std::to_string(churnReunions()));
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

// Where each thread of a process that hangs waits: its stacks from gdb where there is one, else
// each thread's kernel wait channel and system call.
std::string stacksOf(pid_t pid) {
    const auto gdb = test::runProcess(
        {"gdb", "-p", std::to_string(pid), "-batch", "-nx", "-ex", "thread apply all bt 20"},
        std::chrono::seconds(60));
    if (gdb.succeeded() && gdb.output.find("Thread ") != std::string::npos) {
        return gdb.output;
    }
    std::string out;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        const auto read = [&](const char* name) {
            std::ifstream in(task.path() / name);
            std::string line;
            std::getline(in, line);
            return line;
        };
        out += task.path().filename().string() + " " + read("comm") + ": in " + read("wchan") +
               ", system call " + read("syscall") + "\n";
    }
    return out;
}

// How one run of the churn in a process of its own ended: its wait status, or what stopped it.
struct ChurnEnd {
    int status = 0;
    std::string hung;  // where its threads were, when it did not end in time
};

// The churn runs in a process of its own, which ends with _exit once its clients are closed:
// libjack's threads, cancelled by the servers' deaths, can leave a C library lock held that the
// process's exit handlers then wait on for ever.
ChurnEnd churnInAProcess() {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int code = churnAndComeBack();
        std::fflush(nullptr);
        _exit(code);
    }
    ChurnEnd end;
    if (child == -1) {
        end.status = W_EXITCODE(9, 0);
        std::fprintf(stderr, "churn: no process for it\n");
        return end;
    }
    // Its turn at the JACK servers may come only after other test processes had theirs.
    const auto guard = std::chrono::steady_clock::now() + test::JackServer::kTurnWait +
                       std::chrono::duration<double>(kChurnGuardSeconds + 60.0);
    pid_t ended = 0;
    while ((ended = waitpid(child, &end.status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < guard) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0) {
        end.hung = stacksOf(child);
        kill(child, SIGKILL);
        waitpid(child, &end.status, 0);
    }
    return end;
}

// Nothing crashes (the sanitizer build catches a callback into a client already freed), and the
// clients come back with their server. A churn that crashed or hung while JACK's own metadata
// store was broken (a server killed inside the store can leave it so for every process that
// opens it, see jackMetadataStoreBroken) runs again once, on the new store its next turn makes:
// that fault is libdb's, and no fresh JACK client lives through it either.
TEST(JackMIDIChurn, ClientsLiveThroughServersThatComeGoAndFailToStartAroundThem) {
    ChurnEnd end = churnInAProcess();
    if ((!end.hung.empty() || WIFSIGNALED(end.status)) && test::jackMetadataStoreBroken()) {
        std::fprintf(stderr, "churn: %s, and JACK's metadata store breaks its clients; again\n",
                     end.hung.empty() ? "crashed" : "hung");
        end = churnInAProcess();
    }
    ASSERT_TRUE(end.hung.empty()) << "the churn did not end in time; where its threads were:\n"
                                  << end.hung;
    ASSERT_TRUE(WIFEXITED(end.status)) << "the churn ended by signal " << WTERMSIG(end.status);
    EXPECT_EQ(WEXITSTATUS(end.status), 0) << "see the churn's line above";
}

}  // namespace
}  // namespace kestio::platform
