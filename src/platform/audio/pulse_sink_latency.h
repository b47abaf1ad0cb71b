#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/audio/sink_latency_window.h"

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
// sink's latency at uneven intervals, since a timer-driven sink's latency is a sawtooth, and
// keeps the mean of the last answers (SinkLatencyWindow): every 10 to 30 ms until that mean has
// settled, then every 100 to 300 ms, which wakes the program and the server a tenth as often.
// It goes back to the quick pace whenever the answers stop fitting the settled mean, a stream
// or a sink of the server comes, goes or changes (the server tells its clients), another sink
// is followed, or the output says it ran dry (remeasure()).
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
    // Asks at the quick pace again from the next question on: something may have moved the
    // latency (the output's stream started, or it ran dry). Any thread, the render thread
    // included: no lock, no allocation.
    void remeasure() noexcept { remeasure_.store(true, std::memory_order_relaxed); }
    // Asks nothing while `paused` (the output rests: the sink's latency without its stream is
    // not the one its sound will meet), and keeps the latency measured before; once resumed it
    // asks at the quick pace again. Any thread; no lock, no allocation.
    void pause(bool paused) noexcept {
        paused_.store(paused, std::memory_order_relaxed);
        if (!paused) {
            remeasure();
        }
    }
    // How many questions were put to the server so far. Any thread.
    uint64_t questionsAsked() const noexcept { return asked_.load(std::memory_order_relaxed); }

  private:
    void connect();                       // libpulse's thread
    void schedule(uint64_t micros);       // libpulse's thread
    void ask();                           // libpulse's thread
    void take(const pa_sink_info& info);  // libpulse's thread
    void subscribe();                     // libpulse's thread
    double now() const;                   // monotonic seconds
    void dropContext();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* timer_ = nullptr;
    pa_operation* asking_ = nullptr;
    bool subscribed_ = false;  // to the server's changes, on context_
    uint64_t random_ = 0x9e3779b97f4a7c15ull;

    // Guards the sink followed and the answers about it; never held while waiting for anything.
    mutable std::mutex sinkMutex_;
    std::string sink_;
    uint64_t sinkSerial_ = 0;
    uint64_t askedSerial_ = 0;
    uint64_t windowSerial_ = 0;
    SinkLatencyWindow window_;  // libpulse's thread, under sinkMutex_

    std::atomic<double> seconds_;
    std::atomic<bool> remeasure_{false};
    std::atomic<bool> paused_{false};
    std::atomic<uint64_t> asked_{0};
};

}  // namespace kestio::platform::audio
