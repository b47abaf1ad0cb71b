#pragma once

// A private PulseAudio server for tests of the real output path: its own runtime folder, a
// null sink whose monitor can be recorded, and the silent low-latency "keeper" stream without
// which the null sink runs seconds ahead. Everything it starts is stopped by process id, and
// goes when the test process does.

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/runloop/manual_run_loop.h"
#include "support/process_runner.h"

namespace kestio::test {

class PulseServer {
  public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Starts the server and the keeper. Empty on success, else why it could not. After stop()
    // it starts them again on the same socket, as a restarted sound server would be.
    std::string start();
    // Stops the keeper and the server, by process id; their clients lose them.
    void stop();

    // The null sink's latency as the server reports it now, in seconds: how long a frame it
    // takes from a stream now waits before it plays. It rises and falls as the sink renders
    // ahead in steps.
    std::optional<double> sinkLatency();
    // The mean of `readings` of it, one after another (each starts pactl, so they fall at
    // uneven moments of the sawtooth).
    std::optional<double> meanSinkLatency(int readings);
    // Runs pactl against this server; false when it fails.
    bool pactl(const std::vector<std::string>& arguments);

    // Records `source` (such as "null.monitor") as 48 kHz stereo 16-bit samples.
    class Recording {
      public:
        // Waits (up to `wallSeconds`) until at least `frames` frames whose level exceeds
        // `threshold` have arrived; false on time-out.
        bool waitForSound(std::size_t frames, float threshold, double wallSeconds);
        // Left channel so far, as floats.
        std::vector<float> left();
        // The longest a piece of the recording came after the one before it was due, in
        // seconds, since the last call: the server (its sink's thread) or the recorder ran late.
        double takeLatestPiece();

      private:
        friend class PulseServer;
        explicit Recording(const std::string& source);
        void collect(std::chrono::milliseconds wait);

        BackgroundProcess process_;
        std::string bytes_;
        std::optional<std::chrono::steady_clock::time_point> lastPiece_;
        std::size_t lastPieceBytes_ = 0;
        double latestPiece_ = 0.0;
    };
    std::unique_ptr<Recording> record(const std::string& source);

    // The arguments of parec recording `source` as 48 kHz stereo 16-bit samples.
    static std::vector<std::string> recorder(const std::string& source, int latencyMilliseconds);

  private:
    QTemporaryDir folder_;
    std::string socket_;
    std::unique_ptr<BackgroundProcess> server_;
    std::unique_ptr<BackgroundProcess> keeper_;
};

// A test suite that shares one private server, started before its first test; its tests fail or
// skip when the server cannot start (serverCannotStart).
class PulseServerSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static PulseServer* server_;
    static std::string why_;
};

// Lets Qt's main-thread events (device changes) and the run loop's work happen, with the run
// loop's clock following the wall clock, until `done` holds; false after `wallSeconds`.
bool followWallClockUntil(const std::function<bool()>& done, platform::ManualRunLoop& loop,
                          double wallSeconds);

}  // namespace kestio::test
