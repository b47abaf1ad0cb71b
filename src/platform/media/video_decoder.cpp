#include "platform/media/video_decoder.h"

#include <QTransform>
#include <QtEndian>
#include <atomic>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/media/field_deinterlace.h"
#include "platform/runloop/usable_cores.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace kestio::platform::media {

namespace {

// Bytes B, G, R, A in memory are QImage's ARGB32 on little-endian machines.
constexpr AVPixelFormat kImagePixelFormat =
    Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;

int swsColorspace(const AVFrame& frame) {
    switch (frame.colorspace) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return SWS_CS_ITU601;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            return frame.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

// The luma weights of red and blue of the matrix swsColorspace() picks for the frame.
std::pair<float, float> lumaWeights(const AVFrame& frame) {
    switch (swsColorspace(frame)) {
        case SWS_CS_ITU601:
            return {0.299f, 0.114f};
        case SWS_CS_SMPTE240M:
            return {0.212f, 0.087f};
        case SWS_CS_FCC:
            return {0.30f, 0.11f};
        case SWS_CS_BT2020:
            return {0.2627f, 0.0593f};
        default:
            return {0.2126f, 0.0722f};
    }
}

constexpr double kEpsilon = 1e-6;
// A seek's landing is judged too late once packets this far past the target have gone into
// the decoder without a frame coming out (after enough packets to fill its pipeline).
constexpr double kLandingSlackSeconds = 2.0;
constexpr int kMaxDecodeErrors = 64;

bool isFullRange(const AVFrame& frame) {
    if (frame.color_range == AVCOL_RANGE_JPEG) {
        return true;
    }
    switch (static_cast<AVPixelFormat>(frame.format)) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P:
            return true;
        default:
            return false;
    }
}

// Threads for playing a stream of this codec, picture size and rate (pictures a second, 0 when
// unknown) in real time (see Options).
void choosePlaybackThreads(AVCodecContext& context, const AVCodec& codec, double frameRate) {
    const long pixels = static_cast<long>(context.width) * context.height;
    const int bySize = pixels > 1920L * 1088L ? 4 : pixels > 1280L * 720L ? 3 : 2;
    const bool slices = (codec.capabilities & AV_CODEC_CAP_SLICE_THREADS) != 0;
    const bool frames = (codec.capabilities & AV_CODEC_CAP_FRAME_THREADS) != 0;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(codec.id);
    const bool intraOnly = desc != nullptr && (desc->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
    if (slices && (intraOnly || !frames)) {
        context.thread_type = FF_THREAD_SLICE;
        context.thread_count = std::clamp(std::min(bySize, usableCores()), 1, 4);
    } else if (frames) {
        // Each frame thread holds decoded pictures, the codec's tables for them and a context of
        // its own. At 2160p29.97 H.264 on four cores a fourth thread held about 45 MB more per
        // item and decoded at most a fifth faster, when three already decode at 1.5 to 1.9 times
        // the clip's rate: frame threads stop at three up to that many pixels a second.
        const bool fast = pixels * std::max(frameRate, 0.0) > 3840.0 * 2160.0 * 30.5;
        context.thread_type = FF_THREAD_FRAME;
        context.thread_count = std::clamp(std::min({bySize, fast ? 4 : 3, usableCores()}), 1, 4);
    } else {
        context.thread_count = 1;
    }
}

// Decoded frames in buffers of the decoder's MappedBufferPool (the codec context's opaque),
// laid out as FFmpeg's own allocator lays them out: planes of the aligned coded size, rows
// aligned as the codec asks, padding after each plane. Hardware and paletted formats, and codecs
// that do not let the caller allocate, keep FFmpeg's allocator. Called from FFmpeg's threads.
int getPooledBuffer(AVCodecContext* context, AVFrame* frame, int flags) {
    auto* pool = static_cast<MappedBufferPool*>(context->opaque);
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (pool == nullptr || desc == nullptr || context->codec == nullptr ||
        (context->codec->capabilities & AV_CODEC_CAP_DR1) == 0 ||
        (desc->flags &
         (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) != 0 ||
        frame->width <= 0 || frame->height <= 0) {
        return avcodec_default_get_buffer2(context, frame, flags);
    }
    constexpr std::size_t kPadding = 16 + 64;  // FFmpeg's input padding and stride alignment
    int width = frame->width;
    int height = frame->height;
    int align[AV_NUM_DATA_POINTERS] = {};
    avcodec_align_dimensions2(context, &width, &height, align);
    int linesize[4] = {};
    for (;;) {
        if (av_image_fill_linesizes(linesize, format, width) < 0) {
            return avcodec_default_get_buffer2(context, frame, flags);
        }
        bool unaligned = false;
        for (int i = 0; i < 4; ++i) {
            unaligned = unaligned || (align[i] > 0 && linesize[i] % align[i] != 0);
        }
        if (!unaligned) {
            break;
        }
        width += width & ~(width - 1);
    }
    std::ptrdiff_t strides[4];
    for (int i = 0; i < 4; ++i) {
        strides[i] = linesize[i];
    }
    std::size_t sizes[4] = {};
    if (av_image_fill_plane_sizes(sizes, format, height, strides) < 0) {
        return avcodec_default_get_buffer2(context, frame, flags);
    }
    std::size_t offsets[4] = {};
    std::size_t total = 0;
    for (int i = 0; i < 4; ++i) {
        offsets[i] = total;
        if (sizes[i] != 0) {
            total += (sizes[i] + kPadding + 63) / 64 * 64;
        }
    }
    MappedBufferPool::Lease* lease = pool->take(total);
    if (lease == nullptr) {
        return AVERROR(ENOMEM);
    }
    auto* base = static_cast<std::uint8_t*>(lease->data);
    frame->buf[0] = av_buffer_create(
        base, total,
        [](void* opaque, std::uint8_t*) {
            MappedBufferPool::giveBack(static_cast<MappedBufferPool::Lease*>(opaque));
        },
        lease, 0);
    if (frame->buf[0] == nullptr) {
        MappedBufferPool::giveBack(lease);
        return AVERROR(ENOMEM);
    }
    for (int i = 0; i < 4; ++i) {
        frame->data[i] = sizes[i] != 0 ? base + offsets[i] : nullptr;
        frame->linesize[i] = sizes[i] != 0 ? linesize[i] : 0;
    }
    frame->extended_data = frame->data;
    MappedBufferPool::handOver(lease);
    return 0;
}

// A band of rows is worth converting on another thread from this many pixels on (a 640x360
// picture makes 3 bands at most, larger ones as many as the pool has threads).
constexpr long kMinBandPixels = 256L * 256L;
// Bands per thread of the pool: threads take the next band as they finish one, so that a thread
// the system holds up a while (the cores are shared) delays its band only.
constexpr int kBandsPerThread = 4;

ffmpeg::SwsPtr makeScaler(int srcWidth, int srcHeight, AVPixelFormat format, int dstWidth,
                          int dstHeight, int colorspace, bool fullRange) {
    ffmpeg::SwsPtr sws(sws_getContext(srcWidth, srcHeight, format, dstWidth, dstHeight,
                                      kImagePixelFormat, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws) {
        return sws;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_RGB) == 0) {
        sws_setColorspaceDetails(sws.get(), sws_getCoefficients(colorspace), fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    return sws;
}

}  // namespace

struct VideoDecoder::Converter {
    // One context per band of rows of the picture (one band for small pictures), each set up
    // for the whole picture: a band reads every source row it needs, so that the seams between
    // bands come out as a single pass makes them. bandRows holds the first row of each band
    // and the picture's height after the last.
    std::vector<ffmpeg::SwsPtr> sws;
    std::vector<int> bandRows;
    int srcWidth = 0;
    int srcHeight = 0;
    int srcFormat = -1;
    int dstWidth = 0;
    int dstHeight = 0;
    int colorspace = -1;
    bool fullRange = false;
    int concurrency = 0;

    bool configure(const AVFrame& frame, QSize target, int cs, bool full, int threads);
};

// Sets up for frames like this one at the target size, in as many bands as the picture is
// large enough to share among `threads` (one without a thread to share with). A picture resized
// in height is converted in one pass: there the scaler's rows at a band's edge differ from a
// single pass's.
bool VideoDecoder::Converter::configure(const AVFrame& frame, QSize target, int cs, bool full,
                                        int threads) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const long pixels = static_cast<long>(target.width()) * target.height();
    int bands = 1;
    if (threads > 1 && target.height() == frame.height) {
        bands = static_cast<int>(
            std::clamp<long>(pixels / kMinBandPixels, 1, threads * kBandsPerThread));
    }
    sws.clear();
    bandRows.clear();
    for (int b = 0; b < bands; ++b) {
        sws.push_back(makeScaler(frame.width, frame.height, format, target.width(), target.height(),
                                 cs, full));
        if (!sws.back()) {
            sws.clear();
            return false;
        }
    }
    // Some conversions make two rows at once: bands start on a multiple of that.
    const int alignment = std::max(1, static_cast<int>(sws_receive_slice_alignment(sws[0].get())));
    bands = std::clamp(target.height() / alignment, 1, bands);
    sws.resize(static_cast<std::size_t>(bands));
    for (int b = 0; b < bands; ++b) {
        const long row = static_cast<long>(target.height()) * b / bands;
        bandRows.push_back(static_cast<int>(row / alignment * alignment));
    }
    bandRows.push_back(target.height());
    srcWidth = frame.width;
    srcHeight = frame.height;
    srcFormat = frame.format;
    dstWidth = target.width();
    dstHeight = target.height();
    colorspace = cs;
    fullRange = full;
    concurrency = threads;
    return true;
}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::releaseSpareBuffers() {
    pictures_.trim(0);
    frameBuffers_.trim(0);
}

Loaded<std::unique_ptr<VideoDecoder>> VideoDecoder::open(const std::filesystem::path& path,
                                                         std::shared_ptr<ffmpeg::IoControl> io,
                                                         Options options) {
    using Result = Loaded<std::unique_ptr<VideoDecoder>>;
    // Headers first: QuickTime and MP4 describe their tracks fully, which saves the probe.
    auto opened = MediaFile::open(path, io, options.findStreamInfo);
    if (!opened) {
        return Result::failure(opened.error());
    }
    if (!options.findStreamInfo && !opened->isMovFamily() &&
        !ffmpeg::headersDescribeLosslessSound(*opened->context())) {
        if (auto probed = opened->findStreamInfo(); !probed) {
            return Result::failure(probed.error());
        }
    }
    std::unique_ptr<VideoDecoder> decoder(new VideoDecoder());
    decoder->file_ = std::make_unique<MediaFile>(std::move(*opened));
    decoder->packet_ = ffmpeg::makePacket();
    decoder->converter_ = std::make_unique<Converter>();
    decoder->pool_ =
        options.conversionPool != nullptr ? options.conversionPool : &WorkerPool::shared();
    MediaFile& file = *decoder->file_;
    decoder->duration_ = file.duration();

    const int video = file.videoStreamIndex();
    for (unsigned i = 0; i < file.context()->nb_streams; ++i) {
        file.stream(static_cast<int>(i))->discard =
            static_cast<int>(i) == video ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    if (video < 0) {
        const int audio = file.audioStreamIndex();
        if (audio < 0 || avcodec_find_decoder(file.stream(audio)->codecpar->codec_id) == nullptr) {
            return Result::failure("The file has no playable video or audio track");
        }
        if (!std::isfinite(decoder->duration_)) {
            // Nothing will be decoded to find the end: read it from the packets.
            decoder->duration_ = file.scanDuration();
        }
        return Result(std::move(decoder));
    }

    AVStream* st = file.stream(video);
    const AVCodecParameters* par = st->codecpar;
    if ((par->width != 0 || par->height != 0) &&
        !ffmpeg::MediaLimits::pictureSizeAllowed(par->width, par->height)) {
        return Result::failure("The picture size " + std::to_string(par->width) + "x" +
                               std::to_string(par->height) + " is beyond what can be played");
    }
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (codec == nullptr) {
        return Result::failure(std::string("No decoder for the video codec ") +
                               avcodec_get_name(par->codec_id));
    }
    ffmpeg::CodecPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return Result::failure("Cannot allocate memory");
    }
    int rc = avcodec_parameters_to_context(context.get(), par);
    if (rc < 0) {
        return Result::failure(ffmpeg::errorText(rc));
    }
    context->pkt_timebase = st->time_base;
    if (options.threads == kPlaybackThreads) {
        choosePlaybackThreads(*context, *codec, nominalFrameRate(st));
    } else {
        context->thread_count = std::max(0, options.threads);
        context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    context->max_pixels = ffmpeg::MediaLimits::kMaxPixels;
    context->opaque = &decoder->frameBuffers_;
    context->get_buffer2 = &getPooledBuffer;
#if LIBAVCODEC_VERSION_MAJOR < 60
    // The allocator is thread-safe: frame threads call it themselves instead of waiting for this
    // thread (which would also hold back the frames they let go). Always so from FFmpeg 6 on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    context->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
    rc = avcodec_open2(context.get(), codec, nullptr);
    if (rc < 0) {
        return Result::failure(ffmpeg::errorText(rc));
    }
    decoder->codec_ = std::move(context);
    decoder->landed_ = ffmpeg::makeFrame();
    if (!decoder->landed_) {
        return Result::failure("Cannot allocate memory");
    }
    decoder->stream_ = video;
    decoder->timeBase_ = st->time_base;
    // Times count from the container's start, so that the pictures keep their offset from the
    // sound (see AudioDecoder): a track that starts later has its first picture after 0.
    decoder->origin_ = file.containerOrigin(video);
    decoder->trackStart_ = file.streamOrigin(video);
    decoder->rotation_ = clockwiseRotation(st);
    decoder->frameRate_ = nominalFrameRate(st);
    if (st->start_time == AV_NOPTS_VALUE && !decoder->findOriginByDecoding()) {
        return Result::failure(ffmpeg::errorText(AVERROR_EXIT));
    }
    return Result(std::move(decoder));
}

int VideoDecoder::threadCount() const {
    return codec_ ? std::max(1, codec_->thread_count) : 0;
}

double VideoDecoder::nominalFrameDuration() const {
    return frameRate_ > 0.5 && frameRate_ < 1000.0 ? 1.0 / frameRate_ : 1.0 / 30.0;
}

QSize VideoDecoder::displaySizeOf(int width, int height, AVRational sar) const {
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den) {
        const double ratio = av_q2d(sar);
        if (ratio > 1.0) {
            width = static_cast<int>(std::lround(width * ratio));
        } else {
            height = static_cast<int>(std::lround(height / ratio));
        }
        width = std::clamp(width, 1, ffmpeg::MediaLimits::kMaxSide);
        height = std::clamp(height, 1, ffmpeg::MediaLimits::kMaxSide);
    }
    return {width, height};
}

QSize VideoDecoder::displaySize(bool upright) const {
    if (!codec_) {
        return {};
    }
    AVStream* st = file_->stream(stream_);
    const AVRational sar = av_guess_sample_aspect_ratio(file_->context(), st, nullptr);
    QSize size = displaySizeOf(codec_->width > 0 ? codec_->width : st->codecpar->width,
                               codec_->height > 0 ? codec_->height : st->codecpar->height, sar);
    if (upright && (rotation_ == 90 || rotation_ == 270)) {
        size.transpose();
    }
    return size;
}

bool VideoDecoder::readPacket(AVPacket* packet) {
    if (!codec_) {
        return false;
    }
    for (;;) {
        av_packet_unref(packet);
        const int rc = file_->readPacket(packet);
        if (rc < 0) {
            // The end, a read error or an interruption: in each case no more data.
            return false;
        }
        if (packet->stream_index == stream_) {
            return true;
        }
    }
}

int VideoDecoder::send(const AVPacket* packet) {
    return avcodec_send_packet(codec_.get(), packet);
}

int VideoDecoder::receive(AVFrame* frame) {
    if (landed_->buf[0] != nullptr) {
        av_frame_move_ref(frame, landed_.get());
        return 0;
    }
    return avcodec_receive_frame(codec_.get(), frame);
}

VideoDecoder::Step VideoDecoder::decodeNext(AVFrame* frame) {
    if (!codec_) {
        return Step::End;
    }
    for (;;) {
        const int rc = receive(frame);
        if (rc == 0) {
            return Step::Frame;
        }
        if (rc == AVERROR_EOF) {
            return Step::End;
        }
        if (rc != AVERROR(EAGAIN)) {
            // A broken frame: carry on with the next.
            continue;
        }
        if (draining_) {
            return Step::End;
        }
        if (readPacket(packet_.get())) {
            // Undecodable packets are skipped; the decoder resynchronises on the next one.
            send(packet_.get());
        } else {
            draining_ = true;
            send(nullptr);
        }
    }
}

double VideoDecoder::stampedTime(const AVFrame& frame) const {
    // The picture's own stamp where it has one. FFmpeg's best guess turns to the decode stamps
    // for good once a single presentation stamp is out of order, which moves every later
    // picture of a stream with reordered frames.
    const std::int64_t stamp =
        frame.pts != AV_NOPTS_VALUE ? frame.pts : frame.best_effort_timestamp;
    return toSeconds(stamp, timeBase_) - origin_;
}

double VideoDecoder::frameTime(const AVFrame& frame) {
    const double stamped = stampedTime(frame);
    double t;
    if (std::isfinite(stamped)) {
        t = stamped;
    } else if (haveLastTime_) {
        t = lastTime_ + frameDuration(frame);
    } else {
        t = 0.0;
    }
    lastTime_ = t;
    haveLastTime_ = true;
    return t;
}

double VideoDecoder::frameDuration(const AVFrame& frame) const {
    const double d = frame.pkt_duration > 0 ? toSeconds(frame.pkt_duration, timeBase_) : 0.0;
    return d > 0.0 && d < 10.0 ? d : nominalFrameDuration();
}

double VideoDecoder::packetDuration(const AVPacket& packet) const {
    const double d = packet.duration > 0 ? toSeconds(packet.duration, timeBase_) : 0.0;
    return d > 0.0 && d < 10.0 ? d : nominalFrameDuration();
}

bool VideoDecoder::findOriginByDecoding() {
    // Elementary streams state no start; their frames are stamped from the decode order, so
    // the first picture can carry a time other than 0. Keep it as the landing of the start.
    ffmpeg::FramePtr first = ffmpeg::makeFrame();
    if (first && decodeNext(first.get()) == Step::Frame) {
        const double time = toSeconds(first->best_effort_timestamp, timeBase_);
        if (std::isfinite(time)) {
            origin_ = time;
            trackStart_ = time;
        }
        av_frame_move_ref(landed_.get(), first.get());
        return true;
    }
    // Nothing decodes: reading on finds nothing either, wherever it starts.
    rewind();
    return !file_->io().cancelled();
}

void VideoDecoder::restart() {
    avcodec_flush_buffers(codec_.get());
    av_frame_unref(landed_.get());
    haveLastTime_ = false;
    draining_ = false;
}

bool VideoDecoder::seekContainer(double t) {
    AVFormatContext* fmt = file_->context();
    const std::int64_t ts = fromSeconds(t + origin_, timeBase_);
    file_->io().armDeadline(ffmpeg::MediaLimits::kReadSeconds);
    int rc = av_seek_frame(fmt, stream_, ts, AVSEEK_FLAG_BACKWARD);
    if (rc < 0) {
        rc = avformat_seek_file(fmt, stream_, INT64_MIN, ts, ts, 0);
    }
    if (rc < 0) {
        return false;
    }
    restart();
    return true;
}

bool VideoDecoder::rewind() {
    AVFormatContext* fmt = file_->context();
    const int flags = fmt->iformat->flags;
    const bool byteSeekable = (flags & AVFMT_NO_BYTE_SEEK) == 0 && fmt->pb != nullptr;
    // Streams read packet by packet from any position (transport and program streams,
    // elementary streams) start again at their first byte: a seek by time stamp there can
    // land past the first key frame, whose decode time lies before the start time.
    const bool sequential = (flags & (AVFMT_TS_DISCONT | AVFMT_NOTIMESTAMPS)) != 0;
    file_->io().armDeadline(ffmpeg::MediaLimits::kReadSeconds);
    int rc = -1;
    if (sequential && byteSeekable) {
        rc = av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BYTE);
    }
    if (rc < 0) {
        // The track's own start: the container's can lie before every entry of its index.
        const std::int64_t ts = fromSeconds(trackStart_, timeBase_);
        rc = av_seek_frame(fmt, stream_, ts, AVSEEK_FLAG_BACKWARD);
        if (rc < 0) {
            rc = avformat_seek_file(fmt, stream_, INT64_MIN, ts, ts, 0);
        }
    }
    if (rc < 0 && byteSeekable && !sequential) {
        rc = av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BYTE);
    }
    if (rc < 0) {
        return false;
    }
    restart();
    return true;
}

VideoDecoder::Landing VideoDecoder::checkLanding(double t,
                                                 const std::function<bool()>& stopRequested) {
    const double latestPacket = t + kLandingSlackSeconds;
    const int pipeline = 2 * std::max(1, codec_->thread_count) + 16;
    int sent = 0;
    int errors = 0;
    bool pastTarget = false;
    for (;;) {
        if (file_->io().cancelled() || (stopRequested && stopRequested())) {
            return Landing::Stopped;
        }
        const int rc = avcodec_receive_frame(codec_.get(), landed_.get());
        if (rc == 0) {
            const double time = stampedTime(*landed_);
            if (std::isfinite(time) && time <= t + kEpsilon) {
                return Landing::AtOrBefore;
            }
            av_frame_unref(landed_.get());
            return Landing::After;
        }
        if (rc == AVERROR_EOF) {
            return Landing::Nothing;
        }
        if (rc != AVERROR(EAGAIN)) {
            if (++errors > kMaxDecodeErrors) {
                return Landing::Nothing;
            }
            continue;
        }
        if (draining_) {
            return Landing::Nothing;
        }
        if (pastTarget && sent > pipeline) {
            return Landing::After;
        }
        if (readPacket(packet_.get())) {
            const std::int64_t stamp = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
            const double time = toSeconds(stamp, timeBase_) - origin_;
            pastTarget = pastTarget || (std::isfinite(time) && time > latestPacket);
            send(packet_.get());
            ++sent;
        } else {
            draining_ = true;
            send(nullptr);
        }
    }
}

bool VideoDecoder::seek(double t, const std::function<bool()>& stopRequested) {
    if (!codec_) {
        return false;
    }
    const double target = std::isfinite(t) ? std::max(0.0, t) : 0.0;
    auto stopped = [&] { return file_->io().cancelled() || (stopRequested && stopRequested()); };
    // Up to the track's first picture there is nothing to look for: that picture shows.
    const double firstPicture = trackStart_ - origin_;
    for (double back = 0.0; target - back > firstPicture + kEpsilon;
         back = back == 0.0 ? 1.0 : 2.0 * back) {
        if (stopped() || !seekContainer(target - back)) {
            break;
        }
        const Landing landing = checkLanding(target, stopRequested);
        if (landing == Landing::AtOrBefore) {
            return true;
        }
        if (landing == Landing::Stopped) {
            return false;
        }
    }
    return !stopped() && rewind();
}

ffmpeg::FramePtr VideoDecoder::deinterlaced(const AVFrame& frame) {
    if (!isInterlaced(frame) || !canDeinterlace(frame.format) || !codec_) {
        return nullptr;
    }
    ffmpeg::FramePtr out = ffmpeg::makeFrame();
    if (!out) {
        return nullptr;
    }
    out->format = frame.format;
    out->width = frame.width;
    out->height = frame.height;
    // In the decoder's own buffers, laid out as its frames are, so the picture is kept as
    // decoded like any other.
    if (getPooledBuffer(codec_.get(), out.get(), 0) < 0 ||
        av_frame_copy_props(out.get(), &frame) < 0 || !deinterlace(frame, *out)) {
        return nullptr;
    }
#ifdef AV_FRAME_FLAG_INTERLACED
    out->flags &= ~AV_FRAME_FLAG_INTERLACED;
#else
    out->interlaced_frame = 0;
#endif
    return out;
}

Picture VideoDecoder::toPicture(const AVFrame& frame, bool upright) {
    if (const ffmpeg::FramePtr whole = deinterlaced(frame)) {
        return toPicture(*whole, upright);
    }
    const auto format = static_cast<AVPixelFormat>(frame.format);
    AVRational sar = frame.sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) {
        sar = av_guess_sample_aspect_ratio(file_->context(), file_->stream(stream_), nullptr);
    }
    const bool keptAsDecoded =
        (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) &&
        ffmpeg::MediaLimits::pictureSizeAllowed(frame.width, frame.height) &&
        !(upright && rotation_ != 0) &&
        displaySizeOf(frame.width, frame.height, sar) == QSize(frame.width, frame.height) &&
        frame.data[0] != nullptr && frame.data[1] != nullptr && frame.data[2] != nullptr &&
        frame.buf[0] != nullptr && frame.buf[1] == nullptr &&
        frameBuffers_.holds(frame.buf[0]->data);
    if (!keptAsDecoded) {
        return toImage(frame, upright);
    }
    std::shared_ptr<AVFrame> held(av_frame_clone(&frame), [](AVFrame* f) { av_frame_free(&f); });
    if (!held) {
        return toImage(frame, upright);
    }
    YuvPicture yuv;
    yuv.width = held->width;
    yuv.height = held->height;
    for (int i = 0; i < 3; ++i) {
        yuv.planes[i] = held->data[i];
        yuv.strides[i] = held->linesize[i];
    }
    std::tie(yuv.kr, yuv.kb) = lumaWeights(*held);
    yuv.fullRange = isFullRange(*held);
    yuv.owner = std::move(held);
    return Picture(std::move(yuv));
}

QImage VideoDecoder::toImage(const AVFrame& frame, bool upright, QSize maxSize) {
    if (const ffmpeg::FramePtr whole = deinterlaced(frame)) {
        return toImage(*whole, upright, maxSize);
    }
    if (!ffmpeg::MediaLimits::pictureSizeAllowed(frame.width, frame.height) || frame.format < 0) {
        return {};
    }
    AVRational sar = frame.sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) {
        sar = av_guess_sample_aspect_ratio(file_->context(), file_->stream(stream_), nullptr);
    }
    QSize target = displaySizeOf(frame.width, frame.height, sar);
    const bool turns = upright && (rotation_ == 90 || rotation_ == 270);
    if (maxSize.isValid() && !maxSize.isEmpty()) {
        // Fit the upright picture into maxSize; scale the unrotated one accordingly.
        QSize shown = turns ? target.transposed() : target;
        if (shown.width() > maxSize.width() || shown.height() > maxSize.height()) {
            shown = shown.scaled(maxSize, Qt::KeepAspectRatio);
            shown = shown.expandedTo(QSize(1, 1));
            target = turns ? shown.transposed() : shown;
        }
    }

    Converter& c = *converter_;
    const int colorspace = swsColorspace(frame);
    const bool fullRange = isFullRange(frame);
    const int concurrency = pool_->concurrency();
    if (c.sws.empty() || c.srcWidth != frame.width || c.srcHeight != frame.height ||
        c.srcFormat != frame.format || c.dstWidth != target.width() ||
        c.dstHeight != target.height() || c.colorspace != colorspace || c.fullRange != fullRange ||
        c.concurrency != concurrency) {
        if (!c.configure(frame, target, colorspace, fullRange, concurrency)) {
            return {};
        }
    }

    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    const bool hasAlpha = desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    // A picture without an alpha channel says so (every pixel opaque), so that the compositor
    // draws it as a copy and leaves out what it covers.
    const QImage::Format format = hasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage image = pooledPicture(pictures_, target, format);
    if (image.isNull()) {
        image = QImage(target, format);
    }
    if (image.isNull()) {
        return {};
    }
    const int dstStride[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    std::uint8_t* const bits = image.bits();
    if (c.sws.size() == 1) {
        std::uint8_t* dst[4] = {bits, nullptr, nullptr, nullptr};
        if (sws_scale(c.sws[0].get(), frame.data, frame.linesize, 0, frame.height, dst,
                      dstStride) <= 0) {
            return {};
        }
    } else {
        // Every band's context reads the whole source and writes only its own rows of the
        // image, which the frame below lends it without copying.
        ffmpeg::FramePtr out = ffmpeg::makeFrame();
        if (!out) {
            return {};
        }
        out->format = kImagePixelFormat;
        out->width = target.width();
        out->height = target.height();
        out->data[0] = bits;
        out->linesize[0] = dstStride[0];
        out->buf[0] = av_buffer_create(
            bits, static_cast<std::size_t>(image.sizeInBytes()), [](void*, std::uint8_t*) {},
            nullptr, 0);
        if (out->buf[0] == nullptr) {
            return {};
        }
        std::atomic<bool> failed{false};
        pool_->parallelFor(static_cast<int>(c.sws.size()), [&](int b) {
            SwsContext* sws = c.sws[static_cast<std::size_t>(b)].get();
            const int first = c.bandRows[static_cast<std::size_t>(b)];
            const int rows = c.bandRows[static_cast<std::size_t>(b) + 1] - first;
            int rc = sws_frame_start(sws, out.get(), &frame);
            if (rc >= 0) {
                rc = sws_send_slice(sws, 0, static_cast<unsigned>(frame.height));
            }
            if (rc >= 0) {
                rc = sws_receive_slice(sws, static_cast<unsigned>(first),
                                       static_cast<unsigned>(rows));
            }
            sws_frame_end(sws);
            if (rc < 0) {
                failed.store(true);
            }
        });
        if (failed.load()) {
            return {};
        }
    }
    if (hasAlpha) {
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    }
    if (upright && rotation_ != 0) {
        image = image.transformed(QTransform().rotate(rotation_));
    }
    return image;
}

}  // namespace kestio::platform::media
