#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestio::platform::audio {
class PcmBuffer;
}

namespace kestio {

// One reading of the program sound's levels, in dBFS (-100 for silence), per channel.
struct VuReading {
    static constexpr std::size_t kChannels = 8;
    static constexpr float kSilenceDb = -100.0f;
    // Below this every channel counts as silent.
    static constexpr float kSilentBelowDb = -80.0f;

    std::array<float, kChannels> levels;
    // Channels measured (1 to 8).
    int channelCount = 2;

    VuReading() { levels.fill(kSilenceDb); }
    bool isSilent() const;
    bool operator==(const VuReading&) const = default;
};

// The level of one channel block: its largest absolute sample (peak) or its root mean square,
// as 20 log10(x) dB, kSilenceDb when x is 0 (or not a number).
float blockLevelDb(const float* samples, std::size_t count, bool peak);

// The meter between the engine's tap thread and the main thread. measure() (tap thread) keeps,
// per channel, the loudest block level since the last take(), so a peak between two reads of
// the 30 Hz meter is never lost; take() (main thread) returns that and starts a new span.
// Neither side waits for the other: the levels are atomics and a take that races with a
// measurement leaves the measurement to the next span.
//
// While nothing sounds the reader may stop reading (sleep()); the first measurement after that
// says so, and the reader then wakes. Either the reader sees that measurement when it goes to
// sleep, or the measurement sees the reader asleep: a wake is never lost.
class VuMeter {
  public:
    VuMeter();

    // Peak (true) or RMS (false) levels; read by measure().
    bool isPeak() const { return peak_.load(std::memory_order_relaxed); }
    void setPeak(bool peak) { peak_.store(peak, std::memory_order_relaxed); }

    // Tap thread: measures a non-interleaved buffer (at most eight channels). Allocates nothing.
    // True when the reader was asleep: the caller wakes it.
    bool measure(const platform::audio::PcmBuffer& buffer);
    // The same for raw channels, for callers without a buffer.
    bool measure(const float* const* channels, uint32_t channelCount, uint32_t frames);
    // Main thread: the loudest levels since the last take; none when nothing was measured
    // since (the engine delivers its blocks unevenly, or has stopped).
    std::optional<VuReading> take();
    // Main thread: forgets what was measured.
    void reset();
    // Main thread: the reader stops reading until a measurement wakes it. False, and the reader
    // stays awake, when a measurement has come since the last take.
    bool sleep();

  private:
    static constexpr float kNone = -1000.0f;
    std::atomic<bool> peak_{true};
    std::array<std::atomic<float>, VuReading::kChannels> spanMax_;
    std::atomic<int> channelCount_{2};
    std::atomic<uint64_t> measured_{0};
    std::atomic<bool> asleep_{false};
    uint64_t takenAt_ = 0;
};

}  // namespace kestio
