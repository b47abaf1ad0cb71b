#pragma once

// A private PulseAudio server for tests of the real output path: its own runtime folder, a
// null sink whose monitor can be recorded, and the silent low-latency "keeper" stream without
// which the null sink runs seconds ahead. Everything it starts is stopped by process id.

#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

namespace kestio::test {

class PulseServer {
  public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Starts the server and the keeper. Empty on success, else why it could not.
    std::string start();

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
        ~Recording();

      private:
        friend class PulseServer;
        void collect();

        std::unique_ptr<QProcess> process_;
        QByteArray bytes_;
    };
    std::unique_ptr<Recording> record(const std::string& source);

  private:
    std::unique_ptr<QProcess> startProcess(const std::string& program,
                                           const std::vector<std::string>& arguments);

    QTemporaryDir folder_;
    std::string socket_;
    std::unique_ptr<QProcess> server_;
    std::unique_ptr<QProcess> keeper_;
};

// Ends a process started by a test: SIGTERM to its id, then SIGKILL if it does not go.
void stopProcess(QProcess& process);

}  // namespace kestio::test
