#include "platform/audio/pulse_sink_latency.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop-api.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <chrono>
#include <cmath>
#include <limits>

namespace kestio::platform::audio {

namespace {

constexpr uint64_t kConnectingMicros = 50000;
constexpr uint64_t kRetryMicros = 1000000;
// While paused, how often the timer looks whether it is still.
constexpr uint64_t kPausedMicros = 500000;

timeval after(uint64_t micros) {
    timeval tv{};
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, pa_usec_t(micros));
    return tv;
}

}  // namespace

PulseSinkLatency::PulseSinkLatency() : seconds_(std::numeric_limits<double>::quiet_NaN()) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        return;
    }
    api_ = pa_threaded_mainloop_get_api(loop_);
    // The first tick connects, on libpulse's thread.
    const timeval now = after(0);
    timer_ = api_->time_new(
        api_, &now,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
            auto& probe = *static_cast<PulseSinkLatency*>(self);
            const pa_context_state_t state = probe.context_ != nullptr
                                                 ? pa_context_get_state(probe.context_)
                                                 : PA_CONTEXT_FAILED;
            if (state == PA_CONTEXT_READY && probe.paused_.load(std::memory_order_relaxed)) {
                probe.schedule(kPausedMicros);
            } else if (state == PA_CONTEXT_READY) {
                probe.subscribe();
                probe.ask();
                SinkLatencyWindow::AskSpan pace = SinkLatencyWindow::kQuickAsks;
                {
                    std::lock_guard lock(probe.sinkMutex_);
                    if (probe.remeasure_.exchange(false, std::memory_order_relaxed)) {
                        probe.window_.unsettle(probe.now());
                    }
                    if (probe.windowSerial_ == probe.sinkSerial_) {
                        pace = probe.window_.askSpan();
                    }
                }
                const auto shortest = uint64_t(pace.shortest * 1e6);
                const auto span = uint64_t(pace.longest * 1e6) - shortest;
                // Uneven intervals, so that the answers do not sample a sawtooth at one phase.
                probe.random_ ^= probe.random_ << 13;
                probe.random_ ^= probe.random_ >> 7;
                probe.random_ ^= probe.random_ << 17;
                probe.schedule(shortest + probe.random_ % (span + 1));
            } else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
                probe.connect();
                probe.schedule(probe.context_ != nullptr ? kConnectingMicros : kRetryMicros);
            } else {
                probe.schedule(kConnectingMicros);
            }
        },
        this);
    if (pa_threaded_mainloop_start(loop_) < 0) {
        api_->time_free(timer_);
        timer_ = nullptr;
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

PulseSinkLatency::~PulseSinkLatency() {
    if (loop_ == nullptr) {
        return;
    }
    // libpulse's thread is stopped (and joined) first: from then on the timer, the context and
    // the question asked are this thread's alone.
    pa_threaded_mainloop_stop(loop_);
    if (timer_ != nullptr) {
        api_->time_free(timer_);
    }
    dropContext();
    pa_threaded_mainloop_free(loop_);
}

void PulseSinkLatency::follow(const std::string& sink) {
    std::lock_guard lock(sinkMutex_);
    if (sink == sink_) {
        return;
    }
    sink_ = sink;
    ++sinkSerial_;
    seconds_.store(std::numeric_limits<double>::quiet_NaN(), std::memory_order_relaxed);
}

std::optional<double> PulseSinkLatency::seconds() const noexcept {
    const double value = seconds_.load(std::memory_order_relaxed);
    if (std::isnan(value)) {
        return std::nullopt;
    }
    return value;
}

void PulseSinkLatency::dropContext() {
    if (asking_ != nullptr) {
        pa_operation_cancel(asking_);
        pa_operation_unref(asking_);
        asking_ = nullptr;
    }
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseSinkLatency::schedule(uint64_t micros) {
    const timeval at = after(micros);
    api_->time_restart(timer_, &at);
}

double PulseSinkLatency::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PulseSinkLatency::connect() {
    dropContext();
    subscribed_ = false;
    context_ = pa_context_new(api_, "Kestio output latency");
    if (context_ != nullptr &&
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseSinkLatency::subscribe() {
    if (subscribed_) {
        return;
    }
    subscribed_ = true;
    // A stream that comes, goes or moves, or a sink that changes, may move the latency of the
    // sink followed: ask at the quick pace again, from a moment after.
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
            auto& probe = *static_cast<PulseSinkLatency*>(self);
            bool wasSettled = false;
            {
                std::lock_guard lock(probe.sinkMutex_);
                wasSettled = probe.window_.settled();
                probe.window_.unsettle(probe.now());
            }
            if (wasSettled) {
                probe.schedule(uint64_t(SinkLatencyWindow::kQuickAsks.shortest * 1e6));
            }
        },
        this);
    if (pa_operation* operation = pa_context_subscribe(
            context_,
            pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT),
            nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
}

void PulseSinkLatency::ask() {
    if (asking_ != nullptr) {
        if (pa_operation_get_state(asking_) == PA_OPERATION_RUNNING) {
            return;  // one question at a time
        }
        pa_operation_unref(asking_);
        asking_ = nullptr;
    }
    std::string sink;
    {
        std::lock_guard lock(sinkMutex_);
        sink = sink_.empty() ? std::string("@DEFAULT_SINK@") : sink_;
        askedSerial_ = sinkSerial_;
    }
    asked_.fetch_add(1, std::memory_order_relaxed);
    asking_ = pa_context_get_sink_info_by_name(
        context_, sink.c_str(),
        [](pa_context*, const pa_sink_info* info, int, void* self) {
            if (info != nullptr) {
                static_cast<PulseSinkLatency*>(self)->take(*info);
            }
        },
        this);
}

void PulseSinkLatency::take(const pa_sink_info& info) {
    std::lock_guard lock(sinkMutex_);
    if (askedSerial_ != sinkSerial_) {
        return;  // about a sink no longer followed
    }
    if (askedSerial_ != windowSerial_) {
        windowSerial_ = askedSerial_;
        window_.clear();
    }
    window_.take(double(info.latency) / 1e6, now());
    seconds_.store(window_.mean().value_or(std::numeric_limits<double>::quiet_NaN()),
                   std::memory_order_relaxed);
}

}  // namespace kestio::platform::audio
