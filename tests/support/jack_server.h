#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "support/required_server.h"

namespace kestio::test {

// A private JACK server on the dummy driver (no sound hardware), for tests that carry real
// MIDI between clients. Test processes take turns to run one, under one of a few fixed names,
// and JACK_DEFAULT_SERVER points this process's JACK clients at it until it is stopped. When jackd
// cannot be started, running() is false and failure() tells why (see serverCannotStart).
class JackServer {
  public:
    enum class Start { now, later };

    // How long a test process waits for its turn to run a server (other test processes, of this
    // run or of another test run on the machine, may hold it) before failing; the JACK tests'
    // time-outs allow for it (kestio_jack_turn_wait).
    static constexpr std::chrono::seconds kTurnWait{KESTIO_JACK_TURN_WAIT};

    // With Start::later the name is chosen and JACK_DEFAULT_SERVER points at it, but no server
    // runs until start(): clients opened before then meet a server that is not there yet.
    explicit JackServer(Start when = Start::now);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool running() const { return pid_ > 0; }
    const std::string& failure() const { return failure_; }
    const std::string& name() const { return name_; }

    // Starts the server under its name (again, after kill()); true once it answers.
    bool start();
    // Kills the server as a crash would (SIGKILL: no goodbye to its clients) and waits until
    // the process is gone.
    void kill();
    // Freezes the server (SIGSTOP): it keeps its clients and connections but answers nothing,
    // as a hung server would, until thaw() (SIGCONT). Stopping it thaws it first.
    void freeze();
    void thaw();

  private:
    enum class Launch { answered, exitedAtStart, failed };
    Launch launch();
    void stop();
    // The server a test process that died before us left behind is gone before ours starts.
    void awaitPreviousServer();
    // Removes JACK's metadata store when it breaks the clients that open it.
    void resetBrokenMetadataStore();
    void recordServer();

    std::string name_;
    pid_t pid_ = -1;
    std::string failure_;
    std::optional<std::string> previousServer_;
    int lockFd_ = -1;
};

// JACK's metadata store: one Berkeley DB environment per user (/dev/shm/jack_db-<uid>, a place
// libjack fixes), which every JACK client and server of the user opens, whatever its server's
// name. A server killed inside it can leave it broken for every process that opens it after: one
// shorter than it says it is kills them with SIGBUS inside libdb, a lock the dead server held
// holds them up for ever. It stays so until it is made anew, which a JackServer does at the start
// of its turn. True when a JACK client dies or hangs opening it now.
bool jackMetadataStoreBroken();

// A test suite sharing one private server; each of its tests fails or skips when jackd could not
// start (serverCannotStart). A fixture that adds its own SetUp calls this one first and returns
// when IsSkipped() or HasFatalFailure().
class JackServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<JackServer>(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        if (!server_->running()) {
            return serverCannotStart("JACK", server_->failure());
        }
    }

    static inline std::unique_ptr<JackServer> server_;
};

}  // namespace kestio::test
