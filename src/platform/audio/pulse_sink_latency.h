#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

struct pa_context;
struct pa_operation;
struct pa_sink_info;
struct pa_threaded_mainloop;
struct pa_time_event;
struct pa_mainloop_api;

namespace kestio::platform::audio {

// The sound server's own latency of one sink, read through libpulse beside the stream that
// plays to it: how long after the server takes a frame from a stream the sink plays it. A
// libpulse context on the same server (the one PULSE_SERVER or the desktop names) asks for the
// sink's latency every 10 to 30 ms, at uneven intervals since a timer-driven sink's latency is
// a sawtooth, and keeps the mean of the last answers.
//
// Everything talking to the server runs on libpulse's own thread; no call here waits for the
// server. When there is no server the latency is simply unknown, and the context keeps trying.
class PulseSinkLatency {
  public:
    PulseSinkLatency();
    ~PulseSinkLatency();
    PulseSinkLatency(const PulseSinkLatency&) = delete;
    PulseSinkLatency& operator=(const PulseSinkLatency&) = delete;

    // Measures the sink named `sink` from now on (empty: the server's default sink). Any thread.
    void follow(const std::string& sink);
    // The mean latency in seconds, or nothing before the first answer about the sink followed.
    // Any thread; never blocks.
    std::optional<double> seconds() const noexcept;

  private:
    static constexpr int kWindow = 32;

    void connect();                  // libpulse's thread
    void schedule(uint64_t micros);  // libpulse's thread
    void ask();                      // libpulse's thread
    void take(const pa_sink_info& info);
    void dropContext();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* timer_ = nullptr;
    pa_operation* asking_ = nullptr;
    uint64_t random_ = 0x9e3779b97f4a7c15ull;

    // Guards the sink followed and the answers about it; never held while waiting for anything.
    mutable std::mutex sinkMutex_;
    std::string sink_;
    uint64_t sinkSerial_ = 0;
    uint64_t askedSerial_ = 0;
    uint64_t windowSerial_ = 0;
    double window_[kWindow] = {};
    int count_ = 0;
    int next_ = 0;

    std::atomic<double> seconds_;
};

}  // namespace kestio::platform::audio
