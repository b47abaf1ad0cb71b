#include "platform/media/image_generator.h"

#include <cmath>

#include "platform/media/asset.h"
#include "platform/media/video_decoder.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

namespace {

constexpr double kEpsilon = 1e-6;
// Decoder threads as for playing: a few, by picture size, never more than the cores this
// process may run on (FFmpeg's own choice counts every core of the machine).
constexpr int kDecoderThreads = VideoDecoder::kPlaybackThreads;

const char* const kCancelled = "Cancelled";

Loaded<GeneratedImage> pictureAt(VideoDecoder& decoder, double seconds,
                                 const ImageGenerator::Settings& settings,
                                 const ffmpeg::IoControl& io) {
    using Result = Loaded<GeneratedImage>;
    if (!decoder.hasVideo()) {
        return Result::failure("The file has no video track");
    }
    const double t = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    const double before = std::isnan(settings.toleranceBefore) ? 0.0 : settings.toleranceBefore;
    const double after = std::isnan(settings.toleranceAfter) ? 0.0 : settings.toleranceAfter;
    const double from = t - std::max(0.0, before) - kEpsilon;
    const double to = t + std::max(0.0, after) + kEpsilon;
    if (!decoder.seek(t)) {
        return Result::failure(io.cancelled() ? kCancelled : "The file cannot be positioned");
    }
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    ffmpeg::FramePtr best = ffmpeg::makeFrame();
    bool haveBest = false;
    double bestTime = 0.0;
    bool first = true;
    while (!io.cancelled() && decoder.decodeNext(frame.get()) == VideoDecoder::Step::Frame) {
        const double time = decoder.frameTime(*frame);
        // The first picture after positioning comes after `t` only where `t` lies before the
        // video's first picture, which shows from the container's start until its own time
        // (as in playback): beyond the window it counts as the picture at `t`.
        const double shownAt = first && time > to ? t : time;
        first = false;
        if (shownAt >= from && shownAt <= to &&
            (!haveBest || std::abs(shownAt - t) < std::abs(bestTime - t))) {
            av_frame_unref(best.get());
            av_frame_move_ref(best.get(), frame.get());
            bestTime = shownAt;
            haveBest = true;
        }
        av_frame_unref(frame.get());
        if (time >= t - kEpsilon || time > to) {
            break;
        }
    }
    if (io.cancelled()) {
        return Result::failure(kCancelled);
    }
    if (!haveBest) {
        return Result::failure("No picture within the tolerance of the requested time");
    }
    QImage image =
        decoder.toImage(*best, settings.appliesPreferredTrackTransform, settings.maximumSize);
    if (image.isNull()) {
        return Result::failure("The picture cannot be converted");
    }
    if (settings.filter && *settings.filter) {
        QImage filtered;
        try {
            filtered = (*settings.filter)(image);
        } catch (...) {
            return Result::failure("The frame filter failed");
        }
        if (filtered.size() != image.size()) {
            return Result::failure("The frame filter changed the picture size");
        }
        image = std::move(filtered);
    }
    return GeneratedImage{std::move(image), bestTime};
}

}  // namespace

// The generator's thread: takes jobs in order, keeps the file open between them.
class ImageGenerator::Worker {
  public:
    using Post = std::function<void(Job, Loaded<GeneratedImage>)>;

    Worker(std::filesystem::path path, Post post)
        : path_(std::move(path)), post_(std::move(post)), thread_([this] { run(); }) {}

    ~Worker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        io_->cancel();
        wake_.notify_all();
        thread_.join();
    }

    void add(Job job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_all();
    }

    // Removes the queued jobs and marks the one under way as cancelled.
    std::deque<Job> cancelAll() {
        std::lock_guard lock(mutex_);
        cancelledThrough_ = lastTaken_;
        return std::exchange(jobs_, {});
    }

  private:
    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
                if (stop_) {
                    return;
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
                lastTaken_ = job.id;
            }
            Loaded<GeneratedImage> result = generate(job);
            {
                std::lock_guard lock(mutex_);
                if (stop_) {
                    return;
                }
                if (job.id <= cancelledThrough_) {
                    result = Loaded<GeneratedImage>::failure("Cancelled");
                }
            }
            post_(std::move(job), std::move(result));
        }
    }

    Loaded<GeneratedImage> generate(const Job& job) {
        if (!decoder_) {
            auto opened = VideoDecoder::open(path_, io_,
                                             {.findStreamInfo = true, .threads = kDecoderThreads});
            if (!opened) {
                return Loaded<GeneratedImage>::failure(opened.error());
            }
            decoder_ = std::move(*opened);
        }
        auto result = pictureAt(*decoder_, job.seconds, job.settings, *io_);
        if (!result) {
            // Start the next request from a freshly opened file.
            decoder_.reset();
        }
        return result;
    }

    const std::filesystem::path path_;
    const Post post_;
    const std::shared_ptr<ffmpeg::IoControl> io_ = std::make_shared<ffmpeg::IoControl>();
    std::unique_ptr<VideoDecoder> decoder_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::uint64_t lastTaken_ = 0;
    std::uint64_t cancelledThrough_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

ImageGenerator::ImageGenerator(std::shared_ptr<Asset> asset)
    : asset_(std::move(asset)), loop_(asset_->runLoop()) {}

ImageGenerator::~ImageGenerator() {
    *alive_ = false;
    worker_.reset();
}

void ImageGenerator::setFrameFilter(FrameFilter filter) {
    settings_.filter = filter ? std::make_shared<const FrameFilter>(std::move(filter)) : nullptr;
}

void ImageGenerator::answer(std::function<void(const Loaded<GeneratedImage>&)> done,
                            Loaded<GeneratedImage> result) {
    std::weak_ptr<bool> alive = alive_;
    loop_.post([alive, done = std::move(done), result = std::move(result)] {
        if (auto a = alive.lock(); a && *a) {
            done(result);
        }
    });
}

void ImageGenerator::generateImage(double seconds,
                                   std::function<void(const Loaded<GeneratedImage>&)> done) {
    if (!worker_) {
        std::weak_ptr<bool> alive = alive_;
        RunLoop* loop = &loop_;
        worker_ = std::make_unique<Worker>(
            asset_->url(), [alive, loop](Job job, Loaded<GeneratedImage> result) {
                loop->post([alive, done = std::move(job.done), result = std::move(result)] {
                    if (auto a = alive.lock(); a && *a) {
                        done(result);
                    }
                });
            });
    }
    Job job;
    job.id = ++jobCounter_;
    job.seconds = seconds;
    job.settings = settings_;
    job.done = std::move(done);
    worker_->add(std::move(job));
}

void ImageGenerator::cancelAllImageGeneration() {
    if (!worker_) {
        return;
    }
    for (auto& job : worker_->cancelAll()) {
        answer(std::move(job.done), Loaded<GeneratedImage>::failure("Cancelled"));
    }
}

Loaded<GeneratedImage> ImageGenerator::copyImage(const std::filesystem::path& path, double seconds,
                                                 const Settings& settings,
                                                 std::shared_ptr<ffmpeg::IoControl> io) {
    if (!io) {
        io = std::make_shared<ffmpeg::IoControl>();
    }
    if (io->cancelled()) {
        return Loaded<GeneratedImage>::failure(kCancelled);
    }
    // The headers of QuickTime and MP4 describe their tracks fully; other files are probed.
    auto opened =
        VideoDecoder::open(path, io, {.findStreamInfo = false, .threads = kDecoderThreads});
    if (!opened) {
        return Loaded<GeneratedImage>::failure(io->cancelled() ? kCancelled : opened.error());
    }
    return pictureAt(**opened, seconds, settings, *io);
}

}  // namespace kestio::platform::media
