#include "import/frame_grabber.h"

#include <cmath>
#include <memory>

#include "platform/media/media_time.h"
#include "platform/media/video_decoder.h"

namespace kestio {

namespace media = platform::media;
namespace ff = platform::ff;

namespace {

// Frame times come from timestamps at the stream's own timescale; allow for their rounding.
constexpr double kTimeSlack = 1e-6;

}  // namespace

media::Loaded<QImage> grabFrame(const std::filesystem::path& file, double time,
                                double toleranceAfter, QSize maxSize, JobControl& control) {
    using Result = media::Loaded<QImage>;
    const double t = std::isfinite(time) && time > 0.0 ? time : 0.0;
    const double latest = t + std::max(0.0, toleranceAfter);

    auto opened = media::VideoDecoder::open(file, control.io(), {.findStreamInfo = false});
    if (!opened) {
        return Result::failure(opened.error());
    }
    media::VideoDecoder& decoder = **opened;
    if (!decoder.hasVideo()) {
        return Result::failure("The file has no video track");
    }
    if (t > 0.0) {
        // A file that cannot seek is decoded from the top instead.
        decoder.seekToKeyframe(t);
    }
    const ff::FramePtr frame = ff::makeFrame();
    if (!frame) {
        return Result::failure("Cannot allocate memory");
    }
    for (;;) {
        if (control.cancelled()) {
            return Result::failure("Cancelled");
        }
        if (decoder.decodeNext(frame.get()) == media::VideoDecoder::Step::End) {
            return Result::failure("No picture at " + std::to_string(t) + " s");
        }
        const double frameTime = decoder.frameTime(*frame);
        if (frameTime + kTimeSlack < t) {
            av_frame_unref(frame.get());
            continue;
        }
        if (frameTime > latest + kTimeSlack) {
            return Result::failure("No picture between " + std::to_string(t) + " s and " +
                                   std::to_string(latest) + " s");
        }
        QImage image = decoder.toImage(*frame, true, maxSize);
        if (image.isNull()) {
            return Result::failure("The picture cannot be converted");
        }
        return Result(std::move(image));
    }
}

}  // namespace kestio
