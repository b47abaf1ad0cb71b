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

#include "platform/ffmpeg/ffmpeg_handles.h"
#include "platform/graphics/picture.h"
#include "platform/media/item_clock.h"
#include "platform/media/media_file.h"
#include "platform/runloop/media_clock.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

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
// decodes a few pictures ahead into the frame queue (bounded in bytes), kept as decoded where
// they can be (VideoDecoder::toPicture) and converted otherwise. The queue is kept in
// presentation order; a picture stamped far out of order among its neighbours is dropped. Pictures
// leave the queue once the item clock has passed them: the thread releases them itself, so
// presenting never waits on the owner's thread. It blocks on a condition variable while there is
// nothing to do and is woken by the owner (a seek, room in the queue, a changed setting or clock,
// stop) or when the next picture falls due.
//
// The thread never touches the owner: it reports through the event sink, which must only hand
// the event over to the main thread. Every public function is safe from any thread (presenter
// threads read frameAt() while the main thread drives the item); each takes the queue's lock
// only for short copies, never while decoding.
class ItemDecoder {
  public:
    using EventSink = std::function<void(const DecoderEvent&)>;
    struct Settings {
        double forwardBufferSeconds = 2.0;
        double endTime = 0.0;  // NaN: the end of the media
        std::optional<SeekRequest> initialSeek;
        // See setStanding().
        bool standing = false;
    };
    struct Buffer {
        bool hasFrame = false;
        double bufferedUntil = 0.0;  // end of the last queued picture (NaN when empty)
        // Enough pictures queued to play on: the queue is full, or a standing item holds a few.
        bool enoughToPlay = false;
        bool ended = false;     // every picture up to the end has been queued
        double mediaEnd = 0.0;  // end of the last picture of the file once seen, else NaN
    };

    // Starts the thread. `runLoop` gives the host time (its now() is thread-safe); it and the
    // sink are used only until the destructor returns.
    ItemDecoder(std::filesystem::path path, const RunLoop& runLoop, EventSink sink,
                Settings settings);
    // Returns at once: the thread is told to stop (blocking I/O is interrupted) and is joined,
    // with everything it still uses, on a background thread. The sink and run loop are not
    // used after this returns.
    ~ItemDecoder();
    ItemDecoder(const ItemDecoder&) = delete;
    ItemDecoder& operator=(const ItemDecoder&) = delete;

    // Replaces any seek not yet started; the queue is emptied at once.
    void seek(const SeekRequest& request);
    void setEndTime(double endTime);
    void setForwardBuffer(double seconds);
    // The item is paused by its player (no rate, no start pending): the queue holds no more
    // than 8 MB of pictures (the picture it shows alone from 1080p up) and the read-ahead half a
    // second, the decoder staying positioned and warm; the rest is decoded once the item is
    // asked to move. A standing timeline alone (a seek or loading under way) does not count: an
    // item may be asked to start meanwhile.
    void setStanding(bool standing);
    // The item is queued behind its player's current item and starts by itself at a clock time
    // set ahead (the next pass of a loop): until the start nears, and while its clock stands (a
    // seek under way), it keeps what standing keeps, its first pictures; it fills its queue from
    // the time a full queue takes to play before the start. A current item with a start set
    // ahead decodes ahead at once.
    void setQueuedBehind(bool behind);
    // The item's clock against `mediaClock`, so that pictures already late are not converted
    // and past ones leave the queue: now in item time is clock.at(mediaClock->timeAt(host)).
    void setClock(const ItemClock& clock, std::shared_ptr<const MediaClock> mediaClock =
                                              std::make_shared<HostTimeMediaClock>());
    // Drops the pictures that end at or before `itemTime` (keeping the one that shows it).
    void release(double itemTime);
    // The queued picture that shows `itemTime` (the earliest when all are later); null when
    // the queue is empty.
    Picture frameAt(double itemTime) const;
    Buffer buffer() const;
    // The owner has taken in the last Progress event; the next change posts another.
    void progressHandled();
    // The decoder threads FFmpeg runs for this item (0 until opened).
    int decodeThreadCount() const;

    class Core;

  private:
    std::shared_ptr<Core> core_;
};

}  // namespace kestio::platform::media
