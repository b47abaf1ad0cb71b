#pragma once

#include <QImage>
#include <QSize>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/graphics/frame_filter.h"
#include "platform/media/loaded.h"

namespace kestio::platform {
class RunLoop;
}

namespace kestio::platform::ffmpeg {
class IoControl;
}

namespace kestio::platform::media {

class Asset;

struct GeneratedImage {
    QImage image;  // Format_RGB32, or Format_ARGB32_Premultiplied with an alpha channel
    double actualTime = 0.0;
};

// Single pictures of an asset's video at chosen times (thumbnails, the render check).
//
// A picture is the decoded frame whose time lies in [t - toleranceBefore, t + toleranceAfter]
// and is nearest to t (with the default unlimited tolerances: the frame showing at t); before
// the video's first picture, that picture shows, at the time asked for. A time that is not a
// number or negative counts as 0. Requests run one after another on a worker
// thread of the generator's own; destroying the generator cancels them and joins the worker.
class ImageGenerator {
  public:
    struct Settings {
        // Turn pictures upright by the track's rotation.
        bool appliesPreferredTrackTransform = false;
        // Fit pictures into this size (never enlarged); invalid: full size.
        QSize maximumSize;
        double toleranceBefore = std::numeric_limits<double>::infinity();
        double toleranceAfter = std::numeric_limits<double>::infinity();
        // Applied to each picture before it is returned (as pictures are composed in playback).
        std::shared_ptr<const FrameFilter> filter;
    };

    explicit ImageGenerator(std::shared_ptr<Asset> asset);
    ~ImageGenerator();
    ImageGenerator(const ImageGenerator&) = delete;
    ImageGenerator& operator=(const ImageGenerator&) = delete;

    void setAppliesPreferredTrackTransform(bool applies) {
        settings_.appliesPreferredTrackTransform = applies;
    }
    void setMaximumSize(QSize size) { settings_.maximumSize = size; }
    void setRequestedTimeToleranceBefore(double seconds) { settings_.toleranceBefore = seconds; }
    void setRequestedTimeToleranceAfter(double seconds) { settings_.toleranceAfter = seconds; }
    void setFrameFilter(FrameFilter filter);
    const Settings& settings() const { return settings_; }

    // Decodes on the worker with the settings as they are now; `done` runs on the run loop's
    // thread with the picture or the reason there is none.
    void generateImage(double seconds, std::function<void(const Loaded<GeneratedImage>&)> done);
    // Requests not yet answered are answered with an error ("Cancelled").
    void cancelAllImageGeneration();

    // The same, blocking, on the calling thread (never the main thread). Cancelling `io`
    // (ffmpeg::IoControl::cancel, from any thread) stops it promptly, reading or decoding, with the
    // error "Cancelled".
    static Loaded<GeneratedImage> copyImage(const std::filesystem::path& path, double seconds,
                                            const Settings& settings,
                                            std::shared_ptr<ffmpeg::IoControl> io = nullptr);

  private:
    struct Job {
        std::uint64_t id = 0;
        double seconds = 0.0;
        Settings settings;
        std::function<void(const Loaded<GeneratedImage>&)> done;
    };
    class Worker;

    void answer(std::function<void(const Loaded<GeneratedImage>&)> done,
                Loaded<GeneratedImage> result);

    std::shared_ptr<Asset> asset_;
    RunLoop& loop_;
    Settings settings_;
    std::uint64_t jobCounter_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<Worker> worker_;
};

}  // namespace kestio::platform::media
