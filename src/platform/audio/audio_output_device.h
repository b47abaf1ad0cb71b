#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/audio/audio_format.h"
#include "platform/runloop/published.h"
#include "platform/runloop/time_types.h"

namespace kestio::platform::audio {

// One block an output device asks for, and when it will be heard. Host times are the run
// loop's clock (RunLoop::now()).
struct RenderBlock {
    float* const* channels = nullptr;  // `channelCount` non-interleaved channels to fill
    uint32_t channelCount = 0;
    uint32_t frames = 0;
    double sampleRate = 0.0;  // the rate the device plays the block at
    HostTime heardAt{};       // when the block's first frame is heard
    HostTime hostNow{};       // when the block is asked for
};

// Called by an output device on its render thread for every block it plays. Implementations
// must not allocate, lock, log or touch files.
class AudioRenderCallback {
  public:
    virtual void render(const RenderBlock& block) noexcept = 0;
    // Whether the callback has had nothing to play for a while and will have nothing until
    // the device is woken (AudioOutputDevice::wake()): a device may then stop asking for
    // blocks. Called on the render thread after a block; the same rules as render().
    virtual bool mayRest() const noexcept { return false; }

  protected:
    ~AudioRenderCallback() = default;
};

// The system's default sound output as the user sees it.
struct OutputDeviceInfo {
    bool present = false;  // false when the system has no output device
    std::string name;
    uint32_t channelCount = 0;
    double sampleRate = 0.0;
    bool operator==(const OutputDeviceInfo&) const = default;
};

// How a device stands with the sound server it plays through.
enum class OutputConnection {
    connected,     // the server answers (or the device needs none)
    lost,          // the server went away or could not be reached; it is tried again soon
    reconnecting,  // the server is being tried again, and again, until it answers
};

// Where the engine's sound goes: a device with its own render thread that pulls blocks from a
// callback. Every method runs on the main thread.
class AudioOutputDevice {
  public:
    virtual ~AudioOutputDevice() = default;

    // The rate and channel count the device renders at now.
    virtual AudioFormat renderFormat() const = 0;
    // Starts pulling from `callback` on the device's render thread. Returns the reason when it
    // cannot start.
    virtual std::optional<std::string> start(AudioRenderCallback& callback) = 0;
    // Stops pulling; once this returns the callback is not running and is not called again.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    // Host time now, on the device's scale (the run loop's clock); any thread.
    virtual HostTime hostNow() const = 0;
    // Something may sound from now on: a device resting because its callback may rest asks for
    // blocks again at once, at its full pace. Any thread; cheap when the device is not resting.
    virtual void wake() {}

    // The default output device, set on the main thread whenever it or its format changes
    // (renderFormat() already gives the new format when subscribers are told). The render
    // thread may still render a few blocks at the old format after that; every block says its
    // own rate and channel count.
    Published<OutputDeviceInfo> defaultOutput;
    // Set on the main thread whenever the device loses its sound server, tries it again, or
    // has it back. A device starts connected; one whose server was never there is lost from
    // its first attempt.
    Published<OutputConnection> connection{OutputConnection::connected};
};

}  // namespace kestio::platform::audio
