#pragma once

// A recording of a PulseAudio source (such as a sink's monitor) made through libpulse, with every
// frame placed on host time (the steady clock) by the server's own timing: whenever data is
// read, the record stream's latency says how long ago its first frame was captured, which for a
// sink's monitor is when the sink played it. The placement is the median of those readings.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace kestio::test {

class TimedRecording {
  public:
    static constexpr double kRate = 48000.0;

    // Records the left channel of `source` at 48 kHz, in pieces of about 5 ms.
    explicit TimedRecording(const std::string& source);
    ~TimedRecording();
    TimedRecording(const TimedRecording&) = delete;
    TimedRecording& operator=(const TimedRecording&) = delete;

    // Empty while recording, else why it is not.
    std::string failure() const;
    // The left channel so far.
    std::vector<float> left() const;
    std::size_t frames() const;
    // The host time at which recorded frame `frame` was played, and the other way round;
    // nothing before the server has given its timing.
    std::optional<double> hostTimeOf(double frame) const;
    std::optional<double> frameAt(double hostTime) const;

    // How the recording kept up, since the last takeTimings().
    struct Timings {
        // Stretches the server had no sound for (recorded as silence), and their frames.
        int holes = 0;
        std::size_t holeFrames = 0;
        // The longest a piece came after the one before it was due, in seconds: the server
        // (its sink's thread) or this recording's thread ran late.
        double latestPiece = 0.0;
    };
    Timings takeTimings();

  private:
    void read();  // libpulse's thread
    std::optional<double> firstFrameAt() const;

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::string source_;

    mutable std::mutex mutex_;
    std::string failure_;
    std::vector<float> left_;
    std::vector<double> firstFrameTimes_;  // one estimate per reading with timing
    Timings timings_;
    std::optional<double> lastPieceAt_;
    std::size_t lastPieceFrames_ = 0;
};

}  // namespace kestio::test
