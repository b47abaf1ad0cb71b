#pragma once

#include <QImage>
#include <QSize>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/media/ffmpeg_handles.h"
#include "platform/media/media_file.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

class VideoDecoder;

// Item time as a function of run-loop time: anchorItem + rate * (host - anchorHost).
struct ItemClock {
    double anchorItem = 0.0;
    double anchorHost = 0.0;
    double rate = 0.0;
    double at(double host) const { return anchorItem + rate * (host - anchorHost); }
};

struct SeekRequest {
    std::uint64_t id = 0;
    double time = 0.0;
    double toleranceBefore = 0.0;
    double toleranceAfter = 0.0;
};

// What the decode thread reports. Handed to the owner's sink on the decode thread.
struct DecoderEvent {
    enum class Kind { Opened, Failed, SeekLanded, Progress };
    Kind kind = Kind::Progress;
    // Opened
    bool hasVideo = false;
    double duration = 0.0;
    double frameRate = 0.0;
    QSize presentationSize;
    // Failed
    std::string error;
    // SeekLanded, and Opened when the first picture is that of a seek (0: none)
    std::uint64_t seekId = 0;
    double landing = 0.0;
};

// The demux/decode thread of one player item and the queue of pictures it fills.
//
// The thread reads the video track ahead (compressed, up to the forward-buffer duration),
// decodes a small number of pictures ahead into the frame queue, converts them. It blocks on a condition variable while there is nothing to do and
// is woken by the owner (a seek, room in the queue, a changed setting, stop). It never
// touches the owner: it reports through the event sink, which must only hand the event over
// to the main thread.
//
// All public functions are for the owner's (main) thread; they take the queue's lock only
// for short copies, never while decoding.
class ItemDecoder {
  public:
    using EventSink = std::function<void(const DecoderEvent&)>;
    struct Settings {
        double forwardBufferSeconds = 2.0;
        double endTime = 0.0;  // NaN: the end of the media
        std::optional<SeekRequest> initialSeek;
    };
    struct Buffer {
        bool hasFrame = false;
        double bufferedUntil = 0.0;  // end of the last queued picture (NaN when empty)
        bool full = false;
        bool ended = false;     // every picture up to the end has been queued
        double mediaEnd = 0.0;  // end of the last picture of the file once seen, else NaN
    };

    // Starts the thread. `clock` gives the run-loop time (its now() is thread-safe).
    ItemDecoder(std::filesystem::path path, const RunLoop& clock, EventSink sink,
                Settings settings);
    // Stops and joins the thread (promptly: blocking I/O is interrupted).
    ~ItemDecoder();
    ItemDecoder(const ItemDecoder&) = delete;
    ItemDecoder& operator=(const ItemDecoder&) = delete;

    // Replaces any seek not yet started; the queue is emptied at once.
    void seek(const SeekRequest& request);
    void setEndTime(double endTime);
    void setForwardBuffer(double seconds);
    // The item's clock, so that pictures already late are not converted.
    void setClock(const ItemClock& clock);
    // Drops the pictures that end at or before `itemTime` (keeping the one that shows it).
    void release(double itemTime);
    // The queued picture that shows `itemTime` (the earliest when all are later); null when
    // the queue is empty.
    QImage frameAt(double itemTime) const;
    Buffer buffer() const;
    // The owner has taken in the last Progress event; the next change posts another.
    void progressHandled() { progressPosted_.store(false); }

  private:
    struct Frame {
        QImage image;
        double time = 0.0;
        double duration = 0.0;
    };
    enum class Work { Stop, Seek, Decode, ReadAhead };
    enum class Raw { Frame, End, Interrupted };

    void run();
    Work waitForWork(SeekRequest& request, std::uint64_t& generation);
    bool openDecoder();
    void decodeOne(std::uint64_t generation);
    void performSeek(const SeekRequest& request, std::uint64_t generation);
    void readAheadOne();
    Raw nextRawFrame(AVFrame* frame, double& time);
    bool restartFromTop();
    ff::PacketPtr takePacket();
    bool interruptRequested();
    double endLimit();
    bool isLate(double time, double duration);
    QImage picture(AVFrame* frame);
    void push(std::uint64_t generation, Frame frame);
    void land(std::uint64_t generation, const SeekRequest& request, AVFrame* frame, double time,
              double landing);
    void markEnded(std::uint64_t generation, bool endOfFile);
    void announceOpened(std::uint64_t seekId = 0, double landing = 0.0);
    void postProgress();

    const std::filesystem::path path_;
    const RunLoop& clock_;
    const EventSink sink_;
    const std::shared_ptr<IoControl> io_ = std::make_shared<IoControl>();

    // Shared with the owner, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::optional<SeekRequest> pendingSeek_;
    std::uint64_t generation_ = 0;
    std::deque<Frame> frames_;
    std::size_t capacity_ = 3;
    bool ended_ = false;
    bool endOfFile_ = false;
    double endTime_;
    double forwardBuffer_;
    double mediaEnd_;
    ItemClock itemClock_;
    std::atomic<bool> progressPosted_{false};

    // The decode thread's own.
    std::unique_ptr<VideoDecoder> decoder_;
    std::deque<ff::PacketPtr> packets_;
    double packetsSeconds_ = 0.0;
    std::size_t packetBytes_ = 0;
    bool demuxEnded_ = false;
    bool draining_ = false;
    ff::FramePtr pending_;  // a decoded picture put back for later
    double pendingTime_ = 0.0;
    bool announced_ = false;
    bool decodedAny_ = false;
    bool pushedAny_ = false;
    double lastEnd_ = 0.0;

    std::thread thread_;
};

}  // namespace kestio::platform::media
