#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/audio/audio_format.h"
#include "platform/runloop/published.h"

namespace kestio::platform::audio {

// Called by an output device on its render thread for every block it plays. Implementations
// must not allocate, lock, log or touch files.
class AudioRenderCallback {
  public:
    // Fills `channelCount` non-interleaved channels of `frames` frames.
    virtual void render(float* const* channels, uint32_t channelCount,
                        uint32_t frames) noexcept = 0;

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

    // The default output device, set on the main thread whenever it or its format changes
    // (renderFormat() already gives the new format when subscribers are told).
    Published<OutputDeviceInfo> defaultOutput;
};

}  // namespace kestio::platform::audio
