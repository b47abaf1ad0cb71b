#include "platform/media/item_decoder.h"

#include <pthread.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>
#include <utility>

#include "platform/media/video_decoder.h"
#include "platform/runloop/console.h"

namespace kestio::platform::media {

namespace {

constexpr double kEpsilon = 1e-6;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Decoded pictures are most of an item's memory (33 MB each at 2160p, 8 MB at 1080p, as images):
// the queue holds what fits in this many bytes, at least two pictures and at most a quarter
// second. Pictures are counted as images even when they are kept as decoded (12 MB at 2160p),
// so the queue is as deep whatever the clip decodes to.
constexpr std::size_t kFrameMemory = 24u * 1024u * 1024u;
constexpr std::size_t kMinFrames = 2;
// While the item stands (see setStanding()), the queue holds what fits in this many bytes, at
// least one picture: a 1080p or 2160p picture alone, small pictures as many as when playing.
constexpr std::size_t kStandingFrameMemory = 8u * 1024u * 1024u;
// A standing item with this many pictures queued (or its standing queue full, when shorter) has
// enough to start playing on: its decoder made them far faster than they are shown, and fills
// the rest of the queue once the item plays.
constexpr std::size_t kStartingFrames = 3;
// Compressed read-ahead goes up to the forward buffer's seconds, at the clip's bit rate no
// more than kReadAheadBytes, yet always kMinReadAheadSeconds (a 2160p ProRes second is 90 MB);
// while the item stands, kMinReadAheadSeconds.
constexpr std::size_t kReadAheadBytes = 12u * 1024u * 1024u;
constexpr double kMinReadAheadSeconds = 0.5;
constexpr std::size_t kMaxPackets = 4096;
constexpr std::size_t kMaxPacketBytes = 64u * 1024u * 1024u;
constexpr int kMaxDecodeErrors = 64;
// A picture stamped this much later than the one decoded before it is held in doubt until the
// next one comes: when that one is again this much earlier, the stamp was wrong and the
// picture is dropped (it would hold the queue until its time and freeze the pictures between).
constexpr double kOutOfOrderSeconds = 0.5;
// While pictures are queued ahead and the clock runs, the thread looks at the clock again at
// least this often (the clock may be one whose rate differs a little from the host's).
constexpr double kMaxDueWait = 0.1;
// The pictures from a seek's landing to the end time are kept, to be shown again at once when
// the same seek is asked again (a loop's pass going back to its start), when they are no more
// than kKeptRangePictures and fit in kKeptRangeMemory: a range shorter than a seek back and its
// first decoded picture then loops without waiting on the decoder (at 1080p, eleven pictures;
// at 2160p, two). Longer ranges leave a decoder the time to seek back.
constexpr std::size_t kKeptRangePictures = 12;
constexpr std::size_t kKeptRangeMemory = 96u * 1024u * 1024u;

// Whether two seeks land alike (their ids aside).
bool sameSeek(const SeekRequest& a, const SeekRequest& b) {
    return a.time == b.time && a.toleranceBefore == b.toleranceBefore &&
           a.toleranceAfter == b.toleranceAfter;
}

// Joins the threads of retired decoders, so that their owners never wait for a thread to end.
// One for the process; at exit it joins those still ending.
class Reaper {
  public:
    static Reaper& shared() {
        static Reaper reaper;
        return reaper;
    }
    ~Reaper() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable()) {
            worker_.join();
        }
    }
    void retire(std::thread thread) {
        if (!thread.joinable()) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            retired_.push_back(std::move(thread));
            if (!worker_.joinable()) {
                worker_ = std::thread([this] { run(); });
            }
        }
        wake_.notify_all();
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return done_ || !retired_.empty(); });
            if (retired_.empty()) {
                return;
            }
            std::thread thread = std::move(retired_.front());
            retired_.pop_front();
            lock.unlock();
            thread.join();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::thread> retired_;
    bool done_ = false;
    std::thread worker_;
};

}  // namespace

// Everything the decode thread uses, shared by the owner and the thread, so that it outlives
// the owner until the thread has ended.
class ItemDecoder::Core {
  public:
    Core(std::filesystem::path path, const RunLoop& runLoop, EventSink sink,
         const Settings& settings);
    void start(const std::shared_ptr<Core>& self);
    void retire();

    void seek(const SeekRequest& request);
    void setEndTime(double endTime);
    void setForwardBuffer(double seconds);
    void setStanding(bool standing);
    void setQueuedBehind(bool behind);
    void setClock(const ItemClock& clock, std::shared_ptr<const MediaClock> mediaClock);
    void release(double itemTime);
    Picture frameAt(double itemTime) const;
    Buffer buffer() const;
    void progressHandled() { progressPosted_.store(false); }
    int threadCount() const { return threadCount_.load(); }

  private:
    struct Frame {
        Picture image;
        double time = 0.0;
        double duration = 0.0;
    };
    enum class Work { Stop, Seek, Landed, Decode, ReadAhead };
    enum class Raw { Frame, End, Interrupted };
    // The pictures of a short range, from a seek's landing to the end time (see
    // kKeptRangeMemory).
    struct KeptRange {
        SeekRequest seek;  // its id aside, the seek that lands on them
        double landing = 0.0;
        double endTime = 0.0;
        std::vector<Frame> frames;
        // Every picture to the end time is there; the decoder stands right after the last.
        bool complete = false;
        bool endOfFile = false;
    };
    struct Now {
        std::optional<double> itemTime;
        // Media clock seconds until the item starts to run, while it stands until a start set
        // ahead (the next item across a seam); 0 otherwise. The rate it starts at.
        double untilStart = 0.0;
        double startRate = 0.0;
        std::uint64_t clockVersion = 0;
    };

    void run();
    Work waitForWork(SeekRequest& request, std::uint64_t& generation);
    bool openDecoder();
    void decodeOne(std::uint64_t generation);
    void performSeek(const SeekRequest& request, std::uint64_t generation);
    void readAheadOne();
    Raw nextRawFrame(AVFrame* frame, double& time);
    bool restartFromTop();
    ffmpeg::PacketPtr takePacket();
    bool interruptRequested();
    double endLimit();
    bool isLate(double time, double duration);
    Picture picture(AVFrame* frame);
    void push(std::uint64_t generation, Frame frame);
    void land(std::uint64_t generation, const SeekRequest& request, AVFrame* frame, double time,
              double landing);
    void markEnded(std::uint64_t generation, bool endOfFile);
    void announceOpened(std::uint64_t seekId = 0, double landing = 0.0);
    // Reports a quiet seek once the first picture is queued: its landing by performSeek()'s
    // rule for a first picture; `keep`: the queued pictures start a kept range.
    void reportQuietSeek(const SeekRequest& request, double firstTime, bool keep = true);
    void postProgress();

    // The owner's services, usable only until it retires.
    void emit(const DecoderEvent& event);
    std::optional<HostTime> hostNow();
    // Now in item time by the item clock (none once retired).
    Now now();

    // Under mutex_.
    bool releaseLocked(double itemTime);
    void insertLocked(Frame frame);
    void forgetArrivalsLocked();
    std::size_t queuedLocked() const { return frames_.size() - (doubtful_ ? 1 : 0); }
    bool wantsPacketLocked() const;
    // Starts keeping the pictures queued from a seek landing at `landing` when the range to the
    // end time fits in kKeptRangeMemory.
    void keepRangeLocked(const SeekRequest& request, double landing);
    // Whether `request` lands on the kept pictures of a complete range.
    bool landsOnKeptLocked(const SeekRequest& request) const;
    // The queue holds no more than the standing capacity: the player asks the item to stand,
    // or its start lies further ahead than a full queue reaches.
    bool holdsLittleLocked() const { return standing_ || awaitingStart_; }

    const std::filesystem::path path_;
    const std::shared_ptr<ffmpeg::IoControl> io_ = std::make_shared<ffmpeg::IoControl>();

    // The owner's, under ownerMutex_; cleared when it retires.
    std::mutex ownerMutex_;
    const RunLoop* runLoop_;
    EventSink sink_;

    // Shared with the owner, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::optional<SeekRequest> pendingSeek_;
    std::uint64_t generation_ = 0;
    std::deque<Frame> frames_;  // in time order
    std::size_t capacity_ = 3;
    std::size_t standingCapacity_ = 1;
    // See setStanding().
    bool standing_;
    // See setQueuedBehind().
    bool queuedBehind_ = false;
    // Queued behind, the item stands (a seek under way) or stands until a start set ahead and
    // the start is not near yet (the decode thread sets it from the clock): it keeps only what
    // standing keeps until then.
    bool awaitingStart_ = false;
    // The nominal duration of one picture, and the bytes of one, once opened.
    double frameDuration_ = 1.0 / 30.0;
    std::size_t pictureBytes_ = 0;
    std::optional<KeptRange> kept_;
    bool ended_ = false;
    bool endOfFile_ = false;
    double endTime_;
    double forwardBuffer_;
    double mediaEnd_;
    ItemClock itemClock_;
    std::shared_ptr<const MediaClock> mediaClock_ = std::make_shared<HostTimeMediaClock>();
    std::uint64_t clockVersion_ = 0;
    // The times of the last two pictures queued since the last seek (NaN: none), and whether
    // the last one (then at the back of the queue) is in doubt.
    double lastArrival_ = kNaN;
    double previousArrival_ = kNaN;
    bool doubtful_ = false;
    bool reportedDisorder_ = false;
    std::atomic<bool> progressPosted_{false};
    std::atomic<int> threadCount_{0};
    // No picture has left the queue (or been skipped) since the thread was positioned: from the
    // top of the file as opened (positionedBy_ empty), or by the seek that landed last. From the
    // top, a seek to the first picture (or before it) needs no restart: it is answered from the
    // pictures queued, or still decoding (quietSeek_).
    bool untouched_ = true;
    std::optional<SeekRequest> positionedBy_;
    // Once opened (NaN before): the time of the first picture.
    double firstPictureTime_ = kNaN;
    std::optional<SeekRequest> quietSeek_;

    // The decode thread's own.
    std::unique_ptr<VideoDecoder> decoder_;
    std::deque<ffmpeg::PacketPtr> packets_;
    double packetsSeconds_ = 0.0;
    std::size_t packetBytes_ = 0;
    bool demuxEnded_ = false;
    bool draining_ = false;
    ffmpeg::FramePtr pending_;  // a decoded picture put back for later
    double pendingTime_ = 0.0;
    bool announced_ = false;
    bool decodedAny_ = false;
    bool pushedAny_ = false;
    double lastEnd_ = 0.0;

    std::thread thread_;
};

// ---- the owner's side ----

ItemDecoder::ItemDecoder(std::filesystem::path path, const RunLoop& runLoop, EventSink sink,
                         Settings settings)
    : core_(std::make_shared<Core>(std::move(path), runLoop, std::move(sink), settings)) {
    core_->start(core_);
}

ItemDecoder::~ItemDecoder() {
    core_->retire();
}

void ItemDecoder::seek(const SeekRequest& request) {
    core_->seek(request);
}

void ItemDecoder::setEndTime(double endTime) {
    core_->setEndTime(endTime);
}

void ItemDecoder::setForwardBuffer(double seconds) {
    core_->setForwardBuffer(seconds);
}

void ItemDecoder::setStanding(bool standing) {
    core_->setStanding(standing);
}

void ItemDecoder::setQueuedBehind(bool behind) {
    core_->setQueuedBehind(behind);
}

void ItemDecoder::setClock(const ItemClock& clock, std::shared_ptr<const MediaClock> mediaClock) {
    core_->setClock(clock, std::move(mediaClock));
}

void ItemDecoder::release(double itemTime) {
    core_->release(itemTime);
}

Picture ItemDecoder::frameAt(double itemTime) const {
    return core_->frameAt(itemTime);
}

ItemDecoder::Buffer ItemDecoder::buffer() const {
    return core_->buffer();
}

void ItemDecoder::progressHandled() {
    core_->progressHandled();
}

int ItemDecoder::decodeThreadCount() const {
    return core_->threadCount();
}

ItemDecoder::Core::Core(std::filesystem::path path, const RunLoop& runLoop, EventSink sink,
                        const Settings& settings)
    : path_(std::move(path)),
      runLoop_(&runLoop),
      sink_(std::move(sink)),
      pendingSeek_(settings.initialSeek),
      standing_(settings.standing),
      endTime_(settings.endTime),
      forwardBuffer_(settings.forwardBufferSeconds),
      mediaEnd_(kNaN),
      pending_(ffmpeg::makeFrame()) {}

void ItemDecoder::Core::start(const std::shared_ptr<Core>& self) {
    // The thread holds the core: whatever it still uses is freed when it ends.
    thread_ = std::thread([self] {
        // FFmpeg's frame threads, started from here, take the name too.
        pthread_setname_np(pthread_self(), "video decode");
        self->run();
        self->decoder_.reset();
        self->packets_.clear();
    });
}

void ItemDecoder::Core::retire() {
    EventSink sink;
    {
        std::lock_guard lock(ownerMutex_);
        runLoop_ = nullptr;
        sink = std::move(sink_);
        sink_ = nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    io_->cancel();
    wake_.notify_all();
    Reaper::shared().retire(std::move(thread_));
}

void ItemDecoder::Core::seek(const SeekRequest& request) {
    std::optional<double> landing;
    {
        std::lock_guard lock(mutex_);
        const double target = std::isfinite(request.time) ? std::max(request.time, 0.0) : 0.0;
        if (untouched_ && !positionedBy_ && !pendingSeek_ && std::isfinite(firstPictureTime_) &&
            target <= firstPictureTime_ + kEpsilon) {
            // Where decoding from the top lands anyway: the pictures decoded so far stay.
            quietSeek_ = request;
            wake_.notify_all();
            return;
        }
        quietSeek_.reset();
        ++generation_;
        forgetArrivalsLocked();
        untouched_ = false;
        if (landsOnKeptLocked(request)) {
            // The pictures are all here and the decoder stands after the last of them: the seek
            // lands now, without the decode thread.
            frames_.assign(kept_->frames.begin(), kept_->frames.end());
            lastArrival_ = frames_.back().time;
            pendingSeek_.reset();
            ended_ = true;
            endOfFile_ = kept_->endOfFile;
            landing = kept_->landing;
        } else {
            kept_.reset();
            pendingSeek_ = request;
            frames_.clear();
            ended_ = false;
            endOfFile_ = false;
        }
    }
    if (landing) {
        DecoderEvent event;
        event.kind = DecoderEvent::Kind::SeekLanded;
        event.seekId = request.id;
        event.landing = *landing;
        emit(event);
        postProgress();
        return;
    }
    wake_.notify_all();
}

bool ItemDecoder::Core::landsOnKeptLocked(const SeekRequest& request) const {
    return kept_ && kept_->complete && !kept_->frames.empty() && sameSeek(kept_->seek, request) &&
           endTime_ == kept_->endTime;
}

void ItemDecoder::Core::keepRangeLocked(const SeekRequest& request, double landing) {
    if (kept_ && kept_->complete && sameSeek(kept_->seek, request) && endTime_ == kept_->endTime) {
        return;  // the same range again
    }
    kept_.reset();
    if (!std::isfinite(endTime_) || frames_.empty() || pictureBytes_ == 0) {
        return;
    }
    const double span = endTime_ - frames_.front().time;
    const double pictures = std::ceil(span / frameDuration_ - kEpsilon) + 1.0;
    if (!(span > 0.0) || pictures > static_cast<double>(kKeptRangePictures) ||
        pictures * static_cast<double>(pictureBytes_) > static_cast<double>(kKeptRangeMemory)) {
        return;
    }
    kept_ = KeptRange{request, landing, endTime_, {frames_.begin(), frames_.end()}};
}

void ItemDecoder::Core::setEndTime(double endTime) {
    {
        std::lock_guard lock(mutex_);
        endTime_ = endTime;
        if (kept_ && kept_->endTime != endTime) {
            kept_.reset();
        }
        if (std::isfinite(endTime)) {
            std::erase_if(frames_, [&](const Frame& f) { return f.time >= endTime - kEpsilon; });
            if (doubtful_ && (frames_.empty() || frames_.back().time != lastArrival_)) {
                doubtful_ = false;
            }
        }
        if (!endOfFile_) {
            ended_ = false;
        }
    }
    wake_.notify_all();
}

void ItemDecoder::Core::setForwardBuffer(double seconds) {
    {
        std::lock_guard lock(mutex_);
        forwardBuffer_ = seconds;
    }
    wake_.notify_all();
}

void ItemDecoder::Core::setStanding(bool standing) {
    {
        std::lock_guard lock(mutex_);
        standing_ = standing;
    }
    wake_.notify_all();
}

void ItemDecoder::Core::setQueuedBehind(bool behind) {
    {
        std::lock_guard lock(mutex_);
        queuedBehind_ = behind;
    }
    wake_.notify_all();
}

void ItemDecoder::Core::setClock(const ItemClock& clock,
                                 std::shared_ptr<const MediaClock> mediaClock) {
    {
        std::lock_guard lock(mutex_);
        itemClock_ = clock;
        mediaClock_ = mediaClock ? std::move(mediaClock) : std::make_shared<HostTimeMediaClock>();
        ++clockVersion_;
    }
    wake_.notify_all();
}

void ItemDecoder::Core::release(double itemTime) {
    bool released = false;
    {
        std::lock_guard lock(mutex_);
        released = releaseLocked(itemTime);
    }
    if (released) {
        wake_.notify_all();
    }
}

bool ItemDecoder::Core::releaseLocked(double itemTime) {
    bool released = false;
    while (frames_.size() >= 2 && frames_[1].time <= itemTime + kEpsilon) {
        frames_.pop_front();
        released = true;
        untouched_ = false;
    }
    if (doubtful_ && frames_.size() == 1) {
        // The picture in doubt is the one showing now: nothing is left to compare it with.
        doubtful_ = false;
    }
    return released;
}

Picture ItemDecoder::Core::frameAt(double itemTime) const {
    std::lock_guard lock(mutex_);
    if (frames_.empty()) {
        return {};
    }
    const Frame* shown = &frames_.front();
    for (const auto& frame : frames_) {
        if (frame.time > itemTime + kEpsilon) {
            break;
        }
        shown = &frame;
    }
    return shown->image;
}

ItemDecoder::Buffer ItemDecoder::Core::buffer() const {
    std::lock_guard lock(mutex_);
    Buffer b;
    b.hasFrame = !frames_.empty();
    // A picture in doubt does not count as buffered: the ones before it may still come.
    const std::size_t counted = queuedLocked();
    b.bufferedUntil =
        counted == 0 ? kNaN : frames_[counted - 1].time + frames_[counted - 1].duration;
    b.enoughToPlay =
        counted >= (holdsLittleLocked() ? std::min(standingCapacity_, kStartingFrames) : capacity_);
    b.ended = ended_;
    b.mediaEnd = mediaEnd_;
    return b;
}

void ItemDecoder::Core::forgetArrivalsLocked() {
    lastArrival_ = kNaN;
    previousArrival_ = kNaN;
    doubtful_ = false;
}

void ItemDecoder::Core::insertLocked(Frame frame) {
    const double t = frame.time;
    if (doubtful_) {
        doubtful_ = false;
        if (t < lastArrival_ - kOutOfOrderSeconds && !frames_.empty() &&
            frames_.back().time == lastArrival_) {
            if (!reportedDisorder_) {
                reportedDisorder_ = true;
                std::ostringstream line;
                line << "Media: a picture of " << path_.filename().string() << " stamped "
                     << lastArrival_ << " s among pictures at " << t
                     << " s is out of order; dropped";
                Console::log(line.str());
            }
            frames_.pop_back();
            lastArrival_ = previousArrival_;
            kept_.reset();
        }
    }
    if (std::isfinite(lastArrival_) && t > lastArrival_ + kOutOfOrderSeconds) {
        doubtful_ = true;
    }
    previousArrival_ = lastArrival_;
    lastArrival_ = t;
    const auto at = std::upper_bound(frames_.begin(), frames_.end(), t,
                                     [](double time, const Frame& f) { return time < f.time; });
    frames_.insert(at, std::move(frame));
}

void ItemDecoder::Core::emit(const DecoderEvent& event) {
    std::lock_guard lock(ownerMutex_);
    if (sink_) {
        sink_(event);
    }
}

std::optional<HostTime> ItemDecoder::Core::hostNow() {
    std::lock_guard lock(ownerMutex_);
    if (runLoop_ == nullptr) {
        return std::nullopt;
    }
    return runLoop_->now();
}

ItemDecoder::Core::Now ItemDecoder::Core::now() {
    ItemClock clock;
    std::shared_ptr<const MediaClock> media;
    Now result;
    {
        std::lock_guard lock(mutex_);
        clock = itemClock_;
        media = mediaClock_;
        result.clockVersion = clockVersion_;
    }
    if (!clock.moves()) {
        result.itemTime = clock.anchorItem.seconds();
    } else if (const auto host = hostNow()) {
        // The media clock is called without any lock held: it may take its own.
        const ClockTime clockNow = media->timeAt(*host);
        result.itemTime = clock.at(clockNow).seconds();
        if (clock.rate > 0.0 && clock.anchorClock > clockNow) {
            result.untilStart = clock.anchorClock - clockNow;
            result.startRate = clock.rate;
        } else if (clock.rate <= 0.0 && clock.changeClock > clockNow) {
            result.untilStart = clock.changeClock - clockNow;
            result.startRate = clock.changeRate;
        }
    }
    return result;
}

// ---- the decode thread ----

void ItemDecoder::Core::run() {
    if (!openDecoder()) {
        return;
    }
    SeekRequest request;
    std::uint64_t generation = 0;
    for (;;) {
        switch (waitForWork(request, generation)) {
            case Work::Stop:
                return;
            case Work::Seek:
                performSeek(request, generation);
                break;
            case Work::Landed: {
                double firstTime = 0.0;
                {
                    std::lock_guard lock(mutex_);
                    if (generation != generation_ || frames_.empty()) {
                        break;
                    }
                    firstTime = frames_.front().time;
                }
                reportQuietSeek(request, firstTime);
                break;
            }
            case Work::Decode:
                decodeOne(generation);
                break;
            case Work::ReadAhead:
                readAheadOne();
                break;
        }
    }
}

bool ItemDecoder::Core::openDecoder() {
    auto opened = VideoDecoder::open(
        path_, io_, {.findStreamInfo = false, .threads = VideoDecoder::kPlaybackThreads});
    if (!opened) {
        if (!io_->cancelled()) {
            DecoderEvent event;
            event.kind = DecoderEvent::Kind::Failed;
            event.error = opened.error();
            emit(event);
        }
        return false;
    }
    decoder_ = std::move(*opened);
    threadCount_.store(decoder_->threadCount());
    if (decoder_->hasVideo()) {
        std::lock_guard lock(mutex_);
        firstPictureTime_ = decoder_->firstPictureTime();
    }
    if (!decoder_->hasVideo()) {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            endOfFile_ = true;
        }
        demuxEnded_ = true;
        announceOpened();
        return true;
    }
    const QSize size = decoder_->displaySize(true);
    const std::size_t bytes =
        std::max<std::size_t>(1, static_cast<std::size_t>(size.width()) * size.height() * 4);
    const double rate = decoder_->frameRate() > 0.0 ? decoder_->frameRate() : 30.0;
    const auto byTime =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(0.25 * rate)), 3, 12);
    const std::size_t byMemory = std::max(kMinFrames, kFrameMemory / bytes);
    std::lock_guard lock(mutex_);
    frameDuration_ = decoder_->nominalFrameDuration();
    pictureBytes_ = bytes;
    capacity_ = std::min(byTime, byMemory);
    standingCapacity_ = std::clamp<std::size_t>(kStandingFrameMemory / bytes, 1, capacity_);
    return true;
}

bool ItemDecoder::Core::wantsPacketLocked() const {
    if (demuxEnded_ || packets_.size() >= kMaxPackets || packetBytes_ >= kMaxPacketBytes) {
        return false;
    }
    if (packetsSeconds_ < kMinReadAheadSeconds) {
        return true;
    }
    return !holdsLittleLocked() && packetsSeconds_ < forwardBuffer_ &&
           packetBytes_ < kReadAheadBytes;
}

ItemDecoder::Core::Work ItemDecoder::Core::waitForWork(SeekRequest& request,
                                                       std::uint64_t& generation) {
    // Spare picture and frame buffers are given back once per stretch of waiting for the owner.
    bool trimmed = false;
    for (;;) {
        const Now clockNow = now();
        std::unique_lock lock(mutex_);
        if (stop_) {
            return Work::Stop;
        }
        if (clockNow.clockVersion != clockVersion_) {
            continue;  // the clock changed while it was read
        }
        if (clockNow.itemTime) {
            // Pictures leave the queue by the clock, whether or not the owner releases them.
            releaseLocked(*clockNow.itemTime);
        }
        if (pendingSeek_) {
            request = *pendingSeek_;
            pendingSeek_.reset();
            generation = generation_;
            return Work::Seek;
        }
        if (quietSeek_ && !frames_.empty()) {
            request = *quietSeek_;
            quietSeek_.reset();
            generation = generation_;
            return Work::Landed;
        }
        // A queued item that starts by itself later (the next pass of a loop) decodes its first
        // pictures and waits with them, also while its timeline stands for a seek (the start
        // set again once it lands). It fills its queue from the time the pictures after the
        // first of a full queue take to play before the start, so that it starts with its queue
        // full as a playing item keeps it, while the item before it holds its last picture alone.
        const double lead = clockNow.untilStart > 0.0
                                ? static_cast<double>(std::max<std::size_t>(capacity_, 2) - 1) *
                                      frameDuration_ / std::max(clockNow.startRate, 1e-3)
                                : 0.0;
        awaitingStart_ = queuedBehind_ && (clockNow.untilStart > lead || !itemClock_.moves());
        const std::size_t wanted = holdsLittleLocked() ? standingCapacity_ : capacity_;
        if (!ended_ && queuedLocked() < wanted) {
            generation = generation_;
            return Work::Decode;
        }
        if (wantsPacketLocked()) {
            return Work::ReadAhead;
        }
        // A clock about to change rate is looked at again by kMaxDueWait anyway.
        const double rate = std::max(itemClock_.rate, itemClock_.changeRate);
        if (clockNow.itemTime && itemClock_.moves() && frames_.size() >= 2) {
            // Until the next picture falls due (rechecked at least every kMaxDueWait).
            const double due =
                std::clamp((frames_[1].time - *clockNow.itemTime) / rate, 1e-3, kMaxDueWait);
            wake_.wait_for(lock, std::chrono::duration<double>(due));
        } else if (!trimmed) {
            // Nothing to do until woken: the buffers kept for reuse go back first.
            trimmed = true;
            lock.unlock();
            decoder_->releaseSpareBuffers();
        } else if (awaitingStart_ && clockNow.untilStart > 0.0) {
            // Until the queue is to fill before the start (rechecked at least every kMaxDueWait).
            const double due = std::clamp(clockNow.untilStart - lead, 1e-3, kMaxDueWait);
            wake_.wait_for(lock, std::chrono::duration<double>(due));
        } else {
            wake_.wait(lock);
        }
    }
}

bool ItemDecoder::Core::interruptRequested() {
    std::lock_guard lock(mutex_);
    return stop_ || pendingSeek_.has_value();
}

double ItemDecoder::Core::endLimit() {
    double end;
    {
        std::lock_guard lock(mutex_);
        end = endTime_;
    }
    const double duration = decoder_ ? decoder_->duration() : kInfinity;
    if (!std::isfinite(end)) {
        return duration;
    }
    return std::min(end, duration);
}

ffmpeg::PacketPtr ItemDecoder::Core::takePacket() {
    if (!packets_.empty()) {
        ffmpeg::PacketPtr packet = std::move(packets_.front());
        packets_.pop_front();
        packetsSeconds_ = std::max(0.0, packetsSeconds_ - decoder_->packetDuration(*packet));
        packetBytes_ -= std::min<std::size_t>(packetBytes_, static_cast<std::size_t>(packet->size));
        if (packets_.empty()) {
            packetsSeconds_ = 0.0;
        }
        return packet;
    }
    if (demuxEnded_) {
        return nullptr;
    }
    ffmpeg::PacketPtr packet = ffmpeg::makePacket();
    if (!packet || !decoder_->readPacket(packet.get())) {
        demuxEnded_ = true;
        return nullptr;
    }
    return packet;
}

void ItemDecoder::Core::readAheadOne() {
    ffmpeg::PacketPtr packet = ffmpeg::makePacket();
    if (!packet || !decoder_->readPacket(packet.get())) {
        demuxEnded_ = true;
        return;
    }
    packetsSeconds_ += decoder_->packetDuration(*packet);
    packetBytes_ += static_cast<std::size_t>(std::max(0, packet->size));
    packets_.push_back(std::move(packet));
}

ItemDecoder::Core::Raw ItemDecoder::Core::nextRawFrame(AVFrame* frame, double& time) {
    if (!decoder_->hasVideo()) {
        return Raw::End;
    }
    if (pending_->buf[0] != nullptr || pending_->data[0] != nullptr) {
        av_frame_move_ref(frame, pending_.get());
        time = pendingTime_;
        return Raw::Frame;
    }
    int errors = 0;
    for (;;) {
        if (interruptRequested()) {
            return Raw::Interrupted;
        }
        const int rc = decoder_->receive(frame);
        if (rc == 0) {
            time = decoder_->frameTime(*frame);
            decodedAny_ = true;
            lastEnd_ = std::max(lastEnd_, time + decoder_->frameDuration(*frame));
            return Raw::Frame;
        }
        if (rc == AVERROR_EOF) {
            return Raw::End;
        }
        if (rc != AVERROR(EAGAIN)) {
            if (++errors > kMaxDecodeErrors) {
                return Raw::End;
            }
            continue;
        }
        if (draining_) {
            return Raw::End;
        }
        if (ffmpeg::PacketPtr packet = takePacket()) {
            if (decoder_->send(packet.get()) < 0 && ++errors > kMaxDecodeErrors) {
                return Raw::End;
            }
        } else {
            draining_ = true;
            decoder_->send(nullptr);
        }
    }
}

bool ItemDecoder::Core::isLate(double time, double duration) {
    bool running = false;
    {
        std::lock_guard lock(mutex_);
        if (frames_.empty()) {
            return false;
        }
        running = itemClock_.moves();
    }
    if (!running) {
        return false;
    }
    const Now now = this->now();
    return now.itemTime && time + duration < *now.itemTime - 1e-3;
}

Picture ItemDecoder::Core::picture(AVFrame* frame) {
    Picture image = decoder_->toPicture(*frame, true);
    av_frame_unref(frame);
    return image;
}

void ItemDecoder::Core::push(std::uint64_t generation, Frame frame) {
    std::optional<SeekRequest> quiet;
    double firstTime = 0.0;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            return;
        }
        if (kept_ && !kept_->complete) {
            if (kept_->frames.back().time < frame.time &&
                kept_->frames.size() < kKeptRangePictures &&
                kept_->frames.size() * pictureBytes_ < kKeptRangeMemory) {
                kept_->frames.push_back(frame);
            } else {
                kept_.reset();
            }
        }
        insertLocked(std::move(frame));
        quiet = std::exchange(quietSeek_, std::nullopt);
        firstTime = frames_.front().time;
    }
    pushedAny_ = true;
    if (quiet) {
        reportQuietSeek(*quiet, firstTime);
        return;
    }
    announceOpened();
    postProgress();
}

void ItemDecoder::Core::reportQuietSeek(const SeekRequest& request, double firstTime, bool keep) {
    const double target = std::isfinite(request.time) ? std::max(request.time, 0.0) : 0.0;
    const bool within = firstTime >= target - std::max(0.0, request.toleranceBefore) - kEpsilon &&
                        firstTime <= target + std::max(0.0, request.toleranceAfter) + kEpsilon;
    const double landing = within ? firstTime : target;
    if (keep) {
        std::lock_guard lock(mutex_);
        keepRangeLocked(request, landing);
    }
    if (!announced_) {
        announceOpened(request.id, landing);
    } else {
        DecoderEvent event;
        event.kind = DecoderEvent::Kind::SeekLanded;
        event.seekId = request.id;
        event.landing = landing;
        emit(event);
    }
    postProgress();
}

void ItemDecoder::Core::decodeOne(std::uint64_t generation) {
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    double time = 0.0;
    const Raw raw = nextRawFrame(frame.get(), time);
    if (raw == Raw::Interrupted) {
        if (frame->buf[0] != nullptr) {
            av_frame_move_ref(pending_.get(), frame.get());
            pendingTime_ = time;
        }
        return;
    }
    if (raw == Raw::End) {
        markEnded(generation, true);
        return;
    }
    const double duration = decoder_->frameDuration(*frame);
    if (time >= endLimit() - kEpsilon) {
        // Kept for later: the end may still move.
        av_frame_move_ref(pending_.get(), frame.get());
        pendingTime_ = time;
        markEnded(generation, false);
        return;
    }
    if (isLate(time, duration)) {
        std::lock_guard lock(mutex_);
        untouched_ = false;
        // A picture skipped: the kept pictures would miss it.
        kept_.reset();
        return;
    }
    Picture image = picture(frame.get());
    if (!image.isNull()) {
        push(generation, {std::move(image), time, duration});
    }
}

bool ItemDecoder::Core::restartFromTop() {
    auto reopened = VideoDecoder::open(
        path_, io_, {.findStreamInfo = true, .threads = VideoDecoder::kPlaybackThreads});
    if (!reopened || !(*reopened)->hasVideo()) {
        return false;
    }
    decoder_ = std::move(*reopened);
    threadCount_.store(decoder_->threadCount());
    return true;
}

void ItemDecoder::Core::land(std::uint64_t generation, const SeekRequest& request, AVFrame* frame,
                             double time, double landing) {
    if (frame != nullptr) {
        const double duration = decoder_->frameDuration(*frame);
        Picture image = picture(frame);
        if (!image.isNull()) {
            std::lock_guard lock(mutex_);
            if (generation == generation_) {
                insertLocked({std::move(image), time, duration});
                pushedAny_ = true;
            }
        }
    }
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            return;
        }
        if (!frames_.empty()) {
            untouched_ = true;
            positionedBy_ = request;
        }
        keepRangeLocked(request, landing);
    }
    if (!announced_) {
        // Ready and positioned in one step.
        announceOpened(request.id, landing);
    } else {
        DecoderEvent event;
        event.kind = DecoderEvent::Kind::SeekLanded;
        event.seekId = request.id;
        event.landing = landing;
        emit(event);
    }
    postProgress();
}

void ItemDecoder::Core::performSeek(const SeekRequest& request, std::uint64_t generation) {
    {
        std::lock_guard lock(mutex_);
        untouched_ = false;
    }
    packets_.clear();
    packetsSeconds_ = 0.0;
    packetBytes_ = 0;
    av_frame_unref(pending_.get());
    draining_ = false;
    lastEnd_ = 0.0;
    if (!decoder_->hasVideo()) {
        markEnded(generation, true);
        land(generation, request, nullptr, 0.0, std::max(0.0, request.time));
        return;
    }
    demuxEnded_ = false;
    const double end = endLimit();
    const double target = std::clamp(std::isfinite(request.time) ? request.time : 0.0, 0.0,
                                     std::isfinite(end) ? end : kInfinity);
    const double windowStart = target - std::max(0.0, request.toleranceBefore) - kEpsilon;
    const double windowEnd = target + std::max(0.0, request.toleranceAfter) + kEpsilon;

    // Decoding restarts at a key frame at or before the target (checked by the decoder, which
    // backs off where the container's positioning lands too late).
    if (!decoder_->seek(target, [this] { return interruptRequested(); })) {
        if (interruptRequested()) {
            return;
        }
        if (!restartFromTop()) {
            markEnded(generation, true);
            land(generation, request, nullptr, 0.0, target);
            return;
        }
    }
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    ffmpeg::FramePtr previous = ffmpeg::makeFrame();
    double previousTime = 0.0;
    bool havePrevious = false;
    bool first = true;
    for (;;) {
        double time = 0.0;
        const Raw raw = nextRawFrame(frame.get(), time);
        if (raw == Raw::Interrupted) {
            return;
        }
        const bool pastEnd = raw == Raw::Frame && time >= end - kEpsilon;
        if (raw == Raw::End || pastEnd) {
            if (pastEnd) {
                av_frame_move_ref(pending_.get(), frame.get());
                pendingTime_ = time;
            }
            if (havePrevious) {
                // The last picture before the end shows there. It is queued before the end is
                // marked: a first seek at or past the end of the file has a picture to show.
                land(generation, request, previous.get(), previousTime, target);
                markEnded(generation, raw == Raw::End);
            } else {
                markEnded(generation, raw == Raw::End);
                land(generation, request, nullptr, 0.0, target);
            }
            return;
        }
        if (first) {
            first = false;
            if (time >= windowStart && time <= windowEnd) {
                land(generation, request, frame.get(), time, time);
                return;
            }
        }
        if (time <= target + kEpsilon) {
            av_frame_unref(previous.get());
            av_frame_move_ref(previous.get(), frame.get());
            previousTime = time;
            havePrevious = true;
            continue;
        }
        if (havePrevious) {
            av_frame_move_ref(pending_.get(), frame.get());
            pendingTime_ = time;
            land(generation, request, previous.get(), previousTime, target);
        } else {
            // The target lies before the first picture, which shows there.
            land(generation, request, frame.get(), time, target);
        }
        return;
    }
}

void ItemDecoder::Core::markEnded(std::uint64_t generation, bool endOfFile) {
    std::optional<SeekRequest> quiet;
    double firstTime = kNaN;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            return;
        }
        quiet = std::exchange(quietSeek_, std::nullopt);
        if (!frames_.empty()) {
            firstTime = frames_.front().time;
        }
        ended_ = true;
        if (kept_ && !kept_->complete) {
            kept_->complete = true;
            kept_->endOfFile = endOfFile;
        }
        if (endOfFile) {
            endOfFile_ = true;
            if (decodedAny_) {
                mediaEnd_ = lastEnd_;
            }
        }
    }
    if (endOfFile && !pushedAny_ && !announced_) {
        announced_ = true;
        DecoderEvent event;
        event.kind = DecoderEvent::Kind::Failed;
        event.error = "No picture could be decoded";
        emit(event);
        return;
    }
    if (quiet) {
        // Ended before a picture came (an end time at the first picture): the seek lands at
        // its target, as performSeek() lands one there.
        reportQuietSeek(*quiet, std::isfinite(firstTime) ? firstTime : kNaN, false);
        return;
    }
    announceOpened();
    postProgress();
}

void ItemDecoder::Core::announceOpened(std::uint64_t seekId, double landing) {
    if (announced_) {
        return;
    }
    announced_ = true;
    DecoderEvent event;
    event.kind = DecoderEvent::Kind::Opened;
    event.seekId = seekId;
    event.landing = landing;
    event.hasVideo = decoder_->hasVideo();
    event.duration = decoder_->duration();
    event.frameRate = decoder_->frameRate();
    event.presentationSize = decoder_->displaySize(true);
    emit(event);
}

void ItemDecoder::Core::postProgress() {
    if (!progressPosted_.exchange(true)) {
        DecoderEvent event;
        event.kind = DecoderEvent::Kind::Progress;
        emit(event);
    }
}

}  // namespace kestio::platform::media
