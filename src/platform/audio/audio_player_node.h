#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "platform/audio/audio_file.h"
#include "platform/audio/audio_node.h"
#include "platform/audio/pcm_buffer.h"
#include "platform/runloop/time_types.h"

namespace kestio::platform::audio {

class FileFrameReader;
class PlayerReadAhead;

// Plays scheduled buffers and file segments one after the other, without gaps, in the format
// of its output link: every item is adapted on the way (channels by defaultChannelMix, rate by
// a windowed-sinc resampler), so items of any rate and channel count can follow each other,
// and the link format may change while the schedule plays on.
//
// A read-ahead thread of the node decodes ahead of the render thread (about 1.4 s at 48 kHz).
// Completions: an item's completion runs once, either on the read-ahead thread as soon as the
// item's last frame has been read ahead (so a main-thread reaction to it has time before the
// item ends), or, for items still pending when stop() is called (or the node is destroyed), on
// the thread calling stop() before it returns (or in the destructor). Completions that need the
// main thread post to it themselves (RunLoop::post). Items scheduled while the node is being
// destroyed are dropped without their completions.
class AudioPlayerNode final : public AudioNode {
  public:
    using Completion = std::function<void()>;

    // `reader`: how the read-ahead thread takes frames from files (null: it reads them itself).
    explicit AudioPlayerNode(std::shared_ptr<FileFrameReader> reader = nullptr);
    ~AudioPlayerNode() override;

    // Queues the buffer's frames (0 to frameLength) after everything already scheduled. The
    // buffer must not change afterwards.
    void scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer, Completion completion = {});
    // Queues `frameCount` frames of `file` from `startFrame` after everything already
    // scheduled. The node reads the file through its own reader, so the caller may keep
    // using `file`. A segment reaching past the end of the file ends there.
    void scheduleSegment(std::shared_ptr<AudioFile> file, int64_t startFrame, uint64_t frameCount,
                         Completion completion = {});

    // Ends the schedule after its first `frames` frames, counted in the items' own frames
    // since the last stop (a loop's sound ends at a seam so): nothing past that frame is
    // heard, whether it was read ahead or not, and the sound holds there as where a schedule
    // runs out. The render thread takes the end without a lock, from its next block; an end it
    // has already played past stops the sound there and then. The completions of the items
    // that lie wholly past the end run on this thread before it returns; items scheduled
    // afterwards are past the end too, until the next stop().
    void endScheduleAfter(uint64_t frames);

    // Starts or resumes playing with the next block (on a stopped engine the node waits for it
    // to run). With nothing scheduled the node renders silence. Nothing happens while playing.
    void play();
    // The same at the engine clock's time `atClockTime` (see AudioEngine::clock()): the next
    // frame of the schedule is heard exactly then, wherever it falls within a block (for a
    // node fed straight into the main mixer at the device's rate; through a rate conversion
    // or a time-pitch node to within a few frames). A time already past starts at once.
    void play(ClockTime atClockTime);
    // Holds the position; the schedule is kept. The sound does not stop mid-waveform: the next
    // 5 ms of the schedule fade out, and the position holds after them.
    void pause();
    // Drops the schedule and what was read ahead, calls every pending completion once (see
    // above) and stops playing. As with pause(), the 5 ms of sound that would have come next
    // fade out (over whatever the node plays next).
    void stop();
    bool isPlaying() const;

    // Seconds of the schedule heard at the engine clock's time now / at `clockTime`: the time
    // since the last stop of the schedule's sample heard then. Through a time-pitch node the
    // schedule moves at its rate, and this is the position in the schedule of the sample
    // heard, to within the stretcher's block (about 10 ms). It holds while paused and where
    // the schedule runs out; nothing before the first play after a stop (0 until the start is
    // heard). Main thread (any thread for the second).
    std::optional<double> playerTime() const;
    std::optional<double> playerTime(ClockTime clockTime) const;

    // The gain, 0 to 1, where the node's chain enters the main mixer (after any effects).
    // Taps on the node itself see the signal before it. setVolume changes it from the next
    // block; rampVolume moves it from its value at the engine clock's time `atClockTime` (NaN:
    // the next block) to `volume` over `seconds`, starting on the frame heard then. A
    // setVolume cancels the ramps asked for before it (see MixingGain). volume() is the
    // newest value asked for.
    void setVolume(float volume);
    void rampVolume(float volume, double seconds, ClockTime atClockTime);
    float volume() const;

    // Blocks until every scheduled frame has been read ahead or the read-ahead buffer is full;
    // false on time-out. For offline rendering and tests.
    bool waitUntilPrepared(double wallSeconds);

  private:
    uint32_t inputBusCount() const override { return 0; }
    std::shared_ptr<RenderKernel> makeKernel(const KernelSetup& setup) override;
    std::shared_ptr<MixingGain> mixingGain() const override;
    void willRenderTo(const AudioFormat& output) override;
    void ensureThread();

    std::shared_ptr<PlayerReadAhead> readAhead_;
    std::shared_ptr<MixingGain> gain_;
    std::thread thread_;
    bool closing_ = false;
};

}  // namespace kestio::platform::audio
