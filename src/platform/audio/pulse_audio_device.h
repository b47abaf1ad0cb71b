#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/audio/audio_output_device.h"
#include "platform/runloop/run_loop.h"

class QThread;

namespace kestio::platform::audio {

class PulseSinkLatency;

// The system's default sound output through the PulseAudio protocol (PulseAudio, or PipeWire's
// pulse server on a desktop): a playback stream to the server's default sink, fed from the
// device's own thread (its render thread) every few milliseconds with a buffer of about 20 ms,
// in 32-bit float at the sink's rate and channel count.
//
// libpulse's own thread (a threaded main loop) hears the server; the render thread acts on what
// it heard at every wake. Nothing here waits for the server (but the constructor, briefly), and
// the main thread only hears what happened. The server tells the device when its default sink,
// or a sink, changes; the device then publishes the new default and the stream moves there.
//
// When the server goes away (it stopped, it restarted) the device says so (`connection`),
// publishes that there is no output, and tries the server again after a short wait, then after
// longer ones (ReconnectBackoff), for as long as the device lives; once the server answers, the
// sound goes on on its default sink. Meanwhile, and whenever there is no output at all, the
// render thread keeps pulling at the wall clock's pace into nothing, so the engine's clock and
// its players go on as if the sound were heard; so it does when the stream takes nothing for
// two of its buffer periods. start() therefore fails only when the thread cannot run.
//
// Every block tells the engine when it will be heard: now, plus what is queued ahead of it in
// the stream's buffer, plus the latency the sound server reports for the sink
// (PulseSinkLatency; 5 ms until it has answered).
class PulseAudioDevice final : public AudioOutputDevice {
  public:
    // `mainLoop` carries what the render thread learns of the server to the main thread.
    // `hostClock` is the host clock blocks are timed and paced by; the sink plays in real time,
    // so it is the steady clock (the application's run loop's). The constructor waits (up to a
    // second) for the server's first answer, so that the default output is known at once.
    PulseAudioDevice(RunLoop& mainLoop, std::shared_ptr<const HostClock> hostClock,
                     double bufferSeconds = 0.02);
    ~PulseAudioDevice() override;
    PulseAudioDevice(const PulseAudioDevice&) = delete;
    PulseAudioDevice& operator=(const PulseAudioDevice&) = delete;

    AudioFormat renderFormat() const override { return format_; }
    std::optional<std::string> start(AudioRenderCallback& callback) override;
    void stop() override;
    bool isRunning() const override { return running_; }
    // The host clock's time.
    HostTime hostNow() const override;
    // Ends a rest: while its callback has nothing to play (AudioRenderCallback::mayRest()) the
    // device corks its stream and renders nothing, and its thread wakes only to hear the server.
    void wake() override;
    // Whether the device rests now; any thread.
    bool resting() const;

    // How the stream was kept fed, since the last takeTimings(): what tells a render thread that
    // came late (a busy machine, or a fault of ours) from a sound server that did.
    struct Timings {
        // The server found the stream empty when its sink wanted sound: the sink played
        // silence in its place.
        int underflows = 0;
        // Wakes of the render thread that found everything it had queued played already.
        int dryWakes = 0;
        // The longest a wake of the render thread came after it was due, in seconds (wakes
        // while the output rests are not due).
        double latestWake = 0.0;
    };
    // Any thread.
    Timings takeTimings();

    // What the render thread tells the main thread of the server.
    struct Sink {
        std::string name;  // the server's name of the sink
        OutputDeviceInfo info;
        bool operator==(const Sink&) const = default;
    };
    struct ServerState {
        OutputConnection connection = OutputConnection::connected;
        std::optional<Sink> defaultSink;  // none without a server, or without a sink
        std::string why;                  // why the server was lost
        std::string streamFailure;        // a stream the server ended, once per failure
    };

    class Output;

  private:
    // Takes what the render thread told; on the main thread.
    void take(const ServerState& state);

    RunLoop& mainLoop_;
    std::shared_ptr<const HostClock> hostClock_;
    double bufferSeconds_;
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<PulseSinkLatency> serverLatency_;
    std::unique_ptr<Output> output_;  // lives on thread_
    std::shared_ptr<bool> alive_;     // lets reports posted by the thread find the device gone

    // The thread's first report, which the constructor waits for.
    std::mutex firstMutex_;
    std::condition_variable firstArrived_;
    std::optional<ServerState> first_;

    std::optional<Sink> current_;
    std::string lastStreamFailure_;
    AudioFormat format_{48000.0, 2, false};
    bool running_ = false;
};

}  // namespace kestio::platform::audio
