#include "import/frame_grabber.h"

#include <cmath>
#include <memory>

#include "platform/media/video_decoder.h"

namespace kestio {

namespace media = platform::media;
namespace ff = platform::ff;

namespace {

using Result = media::Loaded<QImage>;

// Frame times come from timestamps at the stream's own timescale; allow for their rounding.
constexpr double kTimeSlack = 1e-6;

media::Loaded<std::unique_ptr<media::VideoDecoder>> openVideo(const std::filesystem::path& file,
                                                              JobControl& control) {
    return media::VideoDecoder::open(file, control.io(), {.findStreamInfo = false});
}

// Decodes on from where the decoder stands to the first picture at or after `t`. Sets
// `firstTime` to the time of the first picture that came out (NaN when none did).
Result pictureFrom(media::VideoDecoder& decoder, double t, double latest, QSize maxSize,
                   JobControl& control, double& firstTime) {
    firstTime = std::nan("");
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
        if (std::isnan(firstTime)) {
            firstTime = frameTime;
        }
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

}  // namespace

Result grabFrame(const std::filesystem::path& file, double time, double toleranceAfter,
                 QSize maxSize, JobControl& control) {
    const double t = std::isfinite(time) && time > 0.0 ? time : 0.0;
    const double latest = t + (std::isfinite(toleranceAfter) ? std::max(0.0, toleranceAfter) : 0.0);

    auto opened = openVideo(file, control);
    if (!opened) {
        return Result::failure(opened.error());
    }
    media::VideoDecoder& decoder = **opened;
    if (!decoder.hasVideo()) {
        return Result::failure("The file has no video track");
    }
    // Containers without an index of key pictures (MPEG transport and program streams) are
    // searched by time stamps, and a seek can land after the key picture that `t` needs: the
    // first picture then comes later than `t`, or none comes at all. Seek further back until
    // decoding starts at or before `t`; from near the start, decode from the top.
    double firstTime = 0.0;
    for (double back = 0.0; t - back > 0.0; back = back == 0.0 ? 1.0 : 2.0 * back) {
        if (control.cancelled()) {
            return Result::failure("Cancelled");
        }
        if (!decoder.seekToKeyframe(t - back)) {
            break;
        }
        Result found = pictureFrom(decoder, t, latest, maxSize, control, firstTime);
        if (firstTime <= t + kTimeSlack || control.cancelled()) {
            return found;
        }
    }
    if (t > 0.0) {
        opened = openVideo(file, control);
        if (!opened) {
            return Result::failure(opened.error());
        }
    }
    return pictureFrom(**opened, t, latest, maxSize, control, firstTime);
}

}  // namespace kestio
