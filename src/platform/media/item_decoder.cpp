#include "platform/media/item_decoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/media/video_decoder.h"

namespace kestio::platform::media {

namespace {

constexpr double kEpsilon = 1e-6;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Decoded pictures take memory; compressed read-ahead is cheap. Bounds per item.
constexpr std::size_t kFrameMemory = 128u * 1024u * 1024u;
constexpr std::size_t kMaxPackets = 4096;
constexpr std::size_t kMaxPacketBytes = 64u * 1024u * 1024u;
constexpr int kMaxDecodeErrors = 64;

}  // namespace

ItemDecoder::ItemDecoder(std::filesystem::path path, const RunLoop& clock, EventSink sink,
                         Settings settings)
    : path_(std::move(path)),
      clock_(clock),
      sink_(std::move(sink)),
      pendingSeek_(settings.initialSeek),
      endTime_(settings.endTime),
      forwardBuffer_(settings.forwardBufferSeconds),
      mediaEnd_(kNaN),
      pending_(ff::makeFrame()) {
    thread_ = std::thread([this] { run(); });
}

ItemDecoder::~ItemDecoder() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    io_->cancel();
    wake_.notify_all();
    thread_.join();
}

void ItemDecoder::seek(const SeekRequest& request) {
    {
        std::lock_guard lock(mutex_);
        pendingSeek_ = request;
        ++generation_;
        frames_.clear();
        ended_ = false;
        endOfFile_ = false;
    }
    wake_.notify_all();
}

void ItemDecoder::setEndTime(double endTime) {
    {
        std::lock_guard lock(mutex_);
        endTime_ = endTime;
        if (std::isfinite(endTime)) {
            std::erase_if(frames_, [&](const Frame& f) { return f.time >= endTime - kEpsilon; });
        }
        if (!endOfFile_) {
            ended_ = false;
        }
    }
    wake_.notify_all();
}

void ItemDecoder::setForwardBuffer(double seconds) {
    {
        std::lock_guard lock(mutex_);
        forwardBuffer_ = seconds;
    }
    wake_.notify_all();
}

void ItemDecoder::setClock(const ItemClock& clock) {
    std::lock_guard lock(mutex_);
    itemClock_ = clock;
}

void ItemDecoder::release(double itemTime) {
    bool released = false;
    {
        std::lock_guard lock(mutex_);
        while (frames_.size() >= 2 && frames_[1].time <= itemTime + kEpsilon) {
            frames_.pop_front();
            released = true;
        }
    }
    if (released) {
        wake_.notify_all();
    }
}

QImage ItemDecoder::frameAt(double itemTime) const {
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

ItemDecoder::Buffer ItemDecoder::buffer() const {
    std::lock_guard lock(mutex_);
    Buffer b;
    b.hasFrame = !frames_.empty();
    b.bufferedUntil = frames_.empty() ? kNaN : frames_.back().time + frames_.back().duration;
    b.full = frames_.size() >= capacity_;
    b.ended = ended_;
    b.mediaEnd = mediaEnd_;
    return b;
}

// ---- the decode thread ----

void ItemDecoder::run() {
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
            case Work::Decode:
                decodeOne(generation);
                break;
            case Work::ReadAhead:
                readAheadOne();
                break;
        }
    }
}

bool ItemDecoder::openDecoder() {
    auto opened = VideoDecoder::open(path_, io_, {.findStreamInfo = false, .threads = 0});
    if (!opened) {
        if (!io_->cancelled()) {
            DecoderEvent event;
            event.kind = DecoderEvent::Kind::Failed;
            event.error = opened.error();
            sink_(event);
        }
        return false;
    }
    decoder_ = std::move(*opened);
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
    const std::size_t byMemory = std::max<std::size_t>(2, kFrameMemory / bytes);
    std::lock_guard lock(mutex_);
    capacity_ = std::min(byTime, byMemory);
    return true;
}

ItemDecoder::Work ItemDecoder::waitForWork(SeekRequest& request, std::uint64_t& generation) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stop_) {
            return Work::Stop;
        }
        if (pendingSeek_) {
            request = *pendingSeek_;
            pendingSeek_.reset();
            generation = generation_;
            return Work::Seek;
        }
        if (!ended_ && frames_.size() < capacity_) {
            generation = generation_;
            return Work::Decode;
        }
        if (!demuxEnded_ && packets_.size() < kMaxPackets && packetBytes_ < kMaxPacketBytes &&
            packetsSeconds_ < forwardBuffer_) {
            return Work::ReadAhead;
        }
        wake_.wait(lock);
    }
}

bool ItemDecoder::interruptRequested() {
    std::lock_guard lock(mutex_);
    return stop_ || pendingSeek_.has_value();
}

double ItemDecoder::endLimit() {
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

ff::PacketPtr ItemDecoder::takePacket() {
    if (!packets_.empty()) {
        ff::PacketPtr packet = std::move(packets_.front());
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
    ff::PacketPtr packet = ff::makePacket();
    if (!packet || !decoder_->readPacket(packet.get())) {
        demuxEnded_ = true;
        return nullptr;
    }
    return packet;
}

void ItemDecoder::readAheadOne() {
    ff::PacketPtr packet = ff::makePacket();
    if (!packet || !decoder_->readPacket(packet.get())) {
        demuxEnded_ = true;
        return;
    }
    packetsSeconds_ += decoder_->packetDuration(*packet);
    packetBytes_ += static_cast<std::size_t>(std::max(0, packet->size));
    packets_.push_back(std::move(packet));
}

ItemDecoder::Raw ItemDecoder::nextRawFrame(AVFrame* frame, double& time) {
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
        if (ff::PacketPtr packet = takePacket()) {
            if (decoder_->send(packet.get()) < 0 && ++errors > kMaxDecodeErrors) {
                return Raw::End;
            }
        } else {
            draining_ = true;
            decoder_->send(nullptr);
        }
    }
}

bool ItemDecoder::isLate(double time, double duration) {
    ItemClock clock;
    {
        std::lock_guard lock(mutex_);
        if (frames_.empty()) {
            return false;
        }
        clock = itemClock_;
    }
    return clock.rate > 0.0 && time + duration < clock.at(clock_.now()) - 1e-3;
}

QImage ItemDecoder::picture(AVFrame* frame) {
    QImage image = decoder_->toImage(*frame, true);
    av_frame_unref(frame);
    if (image.isNull()) {
        return image;
    }
    return image;
}

void ItemDecoder::push(std::uint64_t generation, Frame frame) {
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            return;
        }
        frames_.push_back(std::move(frame));
    }
    pushedAny_ = true;
    announceOpened();
    postProgress();
}

void ItemDecoder::decodeOne(std::uint64_t generation) {
    ff::FramePtr frame = ff::makeFrame();
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
        return;
    }
    QImage image = picture(frame.get());
    if (!image.isNull()) {
        push(generation, {std::move(image), time, duration});
    }
}

bool ItemDecoder::restartFromTop() {
    auto reopened = VideoDecoder::open(path_, io_, {.findStreamInfo = true, .threads = 0});
    if (!reopened || !(*reopened)->hasVideo()) {
        return false;
    }
    decoder_ = std::move(*reopened);
    return true;
}

void ItemDecoder::land(std::uint64_t generation, const SeekRequest& request, AVFrame* frame,
                       double time, double landing) {
    if (frame != nullptr) {
        const double duration = decoder_->frameDuration(*frame);
        QImage image = picture(frame);
        if (!image.isNull()) {
            std::lock_guard lock(mutex_);
            if (generation == generation_) {
                frames_.push_back({std::move(image), time, duration});
                pushedAny_ = true;
            }
        }
    }
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            return;
        }
    }
    if (!announced_) {
        // Ready and positioned in one step.
        announceOpened(request.id, landing);
    } else {
        DecoderEvent event;
        event.kind = DecoderEvent::Kind::SeekLanded;
        event.seekId = request.id;
        event.landing = landing;
        sink_(event);
    }
    postProgress();
}

void ItemDecoder::performSeek(const SeekRequest& request, std::uint64_t generation) {
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
    ff::FramePtr frame = ff::makeFrame();
    ff::FramePtr previous = ff::makeFrame();
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
            markEnded(generation, raw == Raw::End);
            if (havePrevious) {
                land(generation, request, previous.get(), previousTime, target);
            } else {
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
            land(generation, request, frame.get(), time, time);
        }
        return;
    }
}

void ItemDecoder::markEnded(std::uint64_t generation, bool endOfFile) {
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            return;
        }
        ended_ = true;
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
        sink_(event);
        return;
    }
    announceOpened();
    postProgress();
}

void ItemDecoder::announceOpened(std::uint64_t seekId, double landing) {
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
    sink_(event);
}

void ItemDecoder::postProgress() {
    if (!progressPosted_.exchange(true)) {
        DecoderEvent event;
        event.kind = DecoderEvent::Kind::Progress;
        sink_(event);
    }
}

}  // namespace kestio::platform::media
