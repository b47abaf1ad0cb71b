#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio_file.h"
#include "platform/audio/pcm_buffer.h"
#include "platform/audio/resampler_table_set.h"
#include "platform/audio/sample_ring.h"
#include "platform/audio/schedule_position_record.h"
#include "platform/audio/spsc_queue.h"

namespace kestio::platform::audio {

// How the read-ahead thread takes a file segment's frames. Without one it reads the file
// itself; a test gives one that holds a read up, to make the read-ahead fall behind for real.
class FileFrameReader {
  public:
    virtual ~FileFrameReader() = default;
    // Reads `frames` frames of `file` from frame `at` into `into`, as AudioFile::read does.
    // Read-ahead thread.
    virtual bool read(AudioFile& file, int64_t at, uint32_t frames, PcmBuffer& into,
                      std::string* error) = 0;
};

// The state a player node shares between the main thread, its read-ahead thread and the
// render thread.
//
// The read-ahead thread takes scheduled buffers and file segments in order, decodes them and
// writes their frames, at their own rate and channel count, into a ring that the render thread
// reads. A mark in a second queue tells the render thread where the rate or channel count
// changes. An item's completion runs on the read-ahead thread as soon as its last frame is in
// the ring. Stopping drops the schedule, calls the completions still pending on the thread
// that stops, and tells the render thread which frames to skip.
class PlayerReadAhead {
  public:
    using Completion = std::function<void()>;

    struct Item {
        std::shared_ptr<const PcmBuffer> buffer;
        std::shared_ptr<AudioFile> file;
        int64_t start = 0;   // first frame of the buffer or file
        uint64_t count = 0;  // frames to play
        Completion completion;
        uint64_t done = 0;  // frames written so far
    };

    // Where the frames of one rate and channel count begin.
    struct FormatMark {
        uint64_t index = 0;
        uint32_t sampleRate = 0;
        uint32_t channels = 0;
        bool operator==(const FormatMark&) const = default;
    };

    // What only the render thread touches: its position and the format of the frames there.
    struct Consumer {
        uint64_t read = 0;
        std::optional<FormatMark> current;
        uint64_t seenFlush = 0;
        uint64_t played = 0;      // link frames of the schedule rendered since the last stop
        uint64_t part = 0;        // the engine part seen last
        double partFrames = 0.0;  // link frames rendered in that part so far
        uint64_t seenStart = 0;   // startSerial taken
        bool moving = false;      // the last note's
    };

    static constexpr uint32_t kRingFrames = 1u << 16;
    static constexpr uint32_t kChunkFrames = 4096;

    explicit PlayerReadAhead(std::shared_ptr<FileFrameReader> reader = nullptr);

    // Main thread. Ignored once the node is closing (see close()).
    void schedule(Item item);
    // Drops the schedule and returns the completions still pending, in schedule order. Waits
    // for a completion that the read-ahead thread is running (unless called from it).
    std::vector<Completion> stop();
    // Ends the schedule after its first `frames` frames (the items' own frames since the last
    // stop): the render thread reads no frame past that one (see endAt), read ahead or not, and
    // the items not yet read ahead are cut there. Returns the completions of the items that
    // now lie wholly past the end, in schedule order.
    std::vector<Completion> endAfter(uint64_t frames);
    // Ends run() and refuses further items.
    void quit();
    // Blocks until every scheduled frame is in the ring or the ring is full; false on time-out.
    bool waitUntilPrepared(double wallSeconds);
    // The rate the render thread converts to; resampler tables are prepared for it.
    void setLinkRate(uint32_t rate);

    // The read-ahead thread's body.
    void run();

    SampleRing ring{kRingFrames};
    SpscQueue<FormatMark> marks{256};
    ResamplerTableSet tables;
    std::atomic<uint64_t> flushEpoch{0};  // advanced by every stop
    std::atomic<uint64_t> flushUpTo{0};   // frames before this index are dropped
    // The ring index at which the schedule ends (endAfter); the largest value: none. Every
    // stop clears it before it advances flushEpoch.
    std::atomic<uint64_t> endAt{UINT64_MAX};
    std::atomic<bool> playing{false};
    // Some of the schedule is not yet read ahead: a playing schedule that finds nothing to play
    // is starved, not done.
    std::atomic<bool> pending{false};
    // Where playing starts: an engine clock time, or NaN for the next block; taken by the render
    // thread when it sees a new startSerial (every play sets one before `playing`). Every stop
    // moves the generation of the position record's notes on.
    std::atomic<double> startAt{0.0};
    std::atomic<uint64_t> startSerial{0};
    std::atomic<uint64_t> generation{0};
    SchedulePositionRecord positions;
    Consumer consumer;  // render thread only

  private:
    bool hasRoomLocked() const;
    void prepareRateLocked(uint32_t sampleRate);

    const std::shared_ptr<FileFrameReader> fileReader_;
    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable progress_;
    std::deque<Item> queue_;
    uint64_t epoch_ = 0;
    bool quit_ = false;
    bool calling_ = false;
    std::thread::id runner_;
    std::optional<FormatMark> lastMark_;
    uint32_t linkRate_ = 0;
    std::vector<uint32_t> sourceRates_;
};

}  // namespace kestio::platform::audio
