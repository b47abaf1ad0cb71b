#include "timed_recording.h"

#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace kestio::test {

namespace {

double steadyNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the recording asks to be given at a time. A sink's monitor asks its sink to play no
// further ahead than its recordings allow, so a short fragment would hold the sink's latency
// down to a few milliseconds; a long one leaves it to the streams that play.
constexpr pa_usec_t kFragmentMicros = 100000;

}  // namespace

TimedRecording::TimedRecording(const std::string& source) : source_(source) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        failure_ = "no libpulse main loop";
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Kestio test recording");
    pa_context_set_state_callback(
        context_,
        [](pa_context* context, void* self) {
            auto& recording = *static_cast<TimedRecording*>(self);
            const auto state = pa_context_get_state(context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
                std::lock_guard lock(recording.mutex_);
                recording.failure_ = "the recording's connection ended";
                return;
            }
            if (state != PA_CONTEXT_READY) {
                return;
            }
            const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, uint32_t(kRate), 2};
            recording.stream_ = pa_stream_new(context, "timed recording", &format, nullptr);
            pa_stream_set_read_callback(
                recording.stream_,
                [](pa_stream*, size_t, void* data) { static_cast<TimedRecording*>(data)->read(); },
                &recording);
            pa_buffer_attr attributes{};
            attributes.maxlength = uint32_t(-1);
            attributes.fragsize = uint32_t(pa_usec_to_bytes(kFragmentMicros, &format));
            const auto flags =
                pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                  PA_STREAM_ADJUST_LATENCY);
            if (pa_stream_connect_record(recording.stream_, recording.source_.c_str(), &attributes,
                                         flags) < 0) {
                std::lock_guard lock(recording.mutex_);
                recording.failure_ = "cannot record " + recording.source_;
            }
        },
        this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        failure_ = "cannot reach the sound server";
    }
    pa_threaded_mainloop_unlock(loop_);
}

TimedRecording::~TimedRecording() {
    if (loop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    if (stream_ != nullptr) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void TimedRecording::read() {
    for (;;) {
        // The record stream's latency: how long ago the next frame to read was captured (it may
        // be negative: a monitor delivers what its sink plays a little ahead of playing it).
        pa_usec_t latency = 0;
        int negative = 0;
        const bool timed = pa_stream_get_latency(stream_, &latency, &negative) == 0;
        const double now = steadyNow();
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        const std::size_t frames = bytes / (2 * sizeof(float));
        {
            std::lock_guard lock(mutex_);
            if (data == nullptr) {
                ++timings_.holes;
                timings_.holeFrames += frames;
            }
            if (lastPieceAt_) {
                const double late = now - *lastPieceAt_ - double(lastPieceFrames_) / kRate;
                timings_.latestPiece = std::max(timings_.latestPiece, late);
            }
            lastPieceAt_ = now;
            lastPieceFrames_ = frames;
            if (timed) {
                const double age = (negative != 0 ? -1.0 : 1.0) * double(latency) / 1e6;
                firstFrameTimes_.push_back(now - age - double(left_.size()) / kRate);
            }
            for (std::size_t i = 0; i < frames; ++i) {
                float sample = 0.0f;
                if (data != nullptr) {
                    std::memcpy(&sample, static_cast<const char*>(data) + i * 2 * sizeof(float),
                                sizeof sample);
                }
                left_.push_back(sample);
            }
        }
        pa_stream_drop(stream_);
    }
}

TimedRecording::Timings TimedRecording::takeTimings() {
    std::lock_guard lock(mutex_);
    return std::exchange(timings_, Timings{});
}

std::string TimedRecording::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

std::vector<float> TimedRecording::left() const {
    std::lock_guard lock(mutex_);
    return left_;
}

std::size_t TimedRecording::frames() const {
    std::lock_guard lock(mutex_);
    return left_.size();
}

std::optional<double> TimedRecording::firstFrameAt() const {
    std::lock_guard lock(mutex_);
    if (firstFrameTimes_.empty()) {
        return std::nullopt;
    }
    std::vector<double> times = firstFrameTimes_;
    std::nth_element(times.begin(), times.begin() + long(times.size() / 2), times.end());
    return times[times.size() / 2];
}

std::optional<double> TimedRecording::hostTimeOf(double frame) const {
    const auto first = firstFrameAt();
    return first ? std::optional(*first + frame / kRate) : std::nullopt;
}

std::optional<double> TimedRecording::frameAt(double hostTime) const {
    const auto first = firstFrameAt();
    return first ? std::optional((hostTime - *first) * kRate) : std::nullopt;
}

}  // namespace kestio::test
