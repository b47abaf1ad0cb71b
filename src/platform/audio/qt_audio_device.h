#pragma once

#include <QAudioDevice>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio/audio_output_device.h"
#include "platform/runloop/run_loop.h"

class QMediaDevices;
class QThread;

namespace kestio::platform::audio {

class PulseSinkLatency;

// The system's default sound output through Qt Multimedia: a QAudioSink in push mode, fed from
// the device's own thread (its render thread) every few milliseconds with a buffer of about
// 20 ms, at the device's preferred rate and channel count.
//
// The default output is followed through QMediaDevices (on the main thread: its change signal,
// and a look once a second, since Qt 6.4 does not signal a new default among the same
// devices). When it changes,
// or the sink fails (the device went away, the sound server restarted), the device publishes
// the new default and carries on there; meanwhile, and whenever there is no output at all, the
// render thread keeps pulling at the wall clock's pace into nothing, so the engine's clock and
// its players go on as if the sound were heard; so it does when the sink takes nothing for two
// of its buffer periods. start() therefore fails only when the thread cannot run.
//
// Every block tells the engine when it will be heard: now, plus what is queued ahead of it in
// the sink's buffer and the push buffer, plus the latency the sound server reports for the
// sink (PulseSinkLatency; 5 ms until it has answered).
class QtAudioDevice final : public AudioOutputDevice {
  public:
    // `mainLoop` carries reports of the render thread (a failed sink) to the main thread.
    // `hostClock` is the host clock blocks are timed and paced by; the sink plays in real time,
    // so it is the steady clock (the application's run loop's).
    QtAudioDevice(RunLoop& mainLoop, std::shared_ptr<const HostClock> hostClock,
                  double bufferSeconds = 0.02);
    ~QtAudioDevice() override;
    QtAudioDevice(const QtAudioDevice&) = delete;
    QtAudioDevice& operator=(const QtAudioDevice&) = delete;

    AudioFormat renderFormat() const override { return format_; }
    std::optional<std::string> start(AudioRenderCallback& callback) override;
    void stop() override;
    bool isRunning() const override { return running_; }
    // The host clock's time.
    HostTime hostNow() const override;

    class Output;

  private:
    // Looks at the default output again; reopens the sink there when it changed or `reopen`.
    void followDefault(bool reopen);

    RunLoop& mainLoop_;
    std::shared_ptr<const HostClock> hostClock_;
    double bufferSeconds_;
    std::unique_ptr<QMediaDevices> devices_;
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<PulseSinkLatency> serverLatency_;
    std::unique_ptr<Output> output_;  // lives on thread_
    std::shared_ptr<bool> alive_;     // lets reports posted by the thread find the device gone
    TimerHandle retry_;
    std::string lastFailure_;
    TimerHandle watch_;
    QAudioDevice current_;
    AudioFormat format_{48000.0, 2, false};
    bool running_ = false;
};

}  // namespace kestio::platform::audio
