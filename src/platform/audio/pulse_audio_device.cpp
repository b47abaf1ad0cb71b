#include "platform/audio/pulse_audio_device.h"

#include <pulse/channelmap.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "platform/audio/output_samples.h"
#include "platform/audio/pulse_sink_latency.h"
#include "platform/audio/realtime_scheduling.h"
#include "platform/audio/reconnect_backoff.h"
#include "platform/audio/silent_frames.h"
#include "platform/runloop/console.h"
#include "platform/runloop/qt_hand_over.h"

namespace kestio::platform::audio {

namespace {

constexpr int kTickMilliseconds = 4;
// While everything rendered is silence the thread wakes this much less often, though never
// after more than half the stream's buffer has played, and fills the stream just as full at
// every wake. A sound that starts is rendered at the next wake right after what the last wake
// queued, so it is heard as early as at the short tick or earlier, never later: the wait for
// the next wake grows by what the stream has played meanwhile.
constexpr int kSilentTickFactor = 2;
// Without a render callback the thread only talks to the server, at this pace.
constexpr int kIdleTickMilliseconds = 20;
// While the callback rests (it has nothing to play until woken) the stream is corked and
// emptied, nothing is rendered, and the thread only hears the server, at this pace.
constexpr int kRestTickMilliseconds = 250;
// A wake that finds less than this share of the stream's buffer still queued came late (a
// loaded machine): the thread keeps the short tick for a while, so the stream does not run dry.
constexpr double kLateWakeShare = 1.0 / 6.0;
constexpr double kShortTickAfterLateWakeSeconds = 1.0;
constexpr uint32_t kBlockFrames = 512;
// Pacing without a stream renders at most this much at once after a stall.
constexpr double kMaxPaceSeconds = 0.2;
// What the sound server and hardware are taken to add after the stream's own buffer until the
// server has told its latency.
constexpr double kUnmeasuredServerLatencySeconds = 0.005;
// A stream that takes nothing for this many of its buffer periods has stalled: the render
// thread paces into nothing until it takes sound again, so the clock goes on.
constexpr double kStallPeriods = 2.0;
// A stream the server ended while it still answers (its sink went away) is opened again after
// this long, unless the default output changes first.
constexpr double kStreamRetrySeconds = 1.0;
// How long the render thread waits for the server to make a stream before it paces the clock
// again.
constexpr double kStreamOpenSeconds = 0.5;
// How long the constructor waits for the server's first answer.
constexpr auto kFirstAnswer = std::chrono::seconds(1);

// The stream's channel positions in the engine's channel order: the usual layouts of FFmpeg
// and WAVE files (5.1: FL FR FC LFE BL BR; 7.1: FL FR FC LFE BL BR SL SR).
pa_channel_map engineChannelMap(uint32_t channels) {
    pa_channel_map map;
    pa_channel_map_init_extend(&map, channels, PA_CHANNEL_MAP_WAVEEX);
    if (channels == 8) {
        map.map[6] = PA_CHANNEL_POSITION_SIDE_LEFT;
        map.map[7] = PA_CHANNEL_POSITION_SIDE_RIGHT;
    }
    return map;
}

}  // namespace

// The render thread's side: the server connection, the stream, the feeding timer and the
// pacing clock. libpulse runs its own thread (a threaded main loop) that answers the server;
// its callbacks only note what happened, under the main loop's lock, and the render thread acts
// on it at its next wake, under the same lock. Every other member is the render thread's.
class PulseAudioDevice::Output {
  public:
    Output(std::function<void(ServerState)> report, PulseSinkLatency& serverLatency,
           const HostClock& clock)
        : report_(std::move(report)), serverLatency_(serverLatency), clock_(clock) {}

    QObject context;

    // On the device thread as it starts: it renders every block, so it runs before ordinary
    // threads where the system allows, or RealtimeKit grants it (Qt's own priorities leave it
    // an ordinary thread on Linux).
    void scheduleInRealTime() {
        const RealTimeAnswer answer = askForRealTime();
        realTime_ = answer.refused.empty();
        mayRunInRealTime_ = realTime_;
        if (answer.byRealtimeKit) {
            Console::log("audio output: RealtimeKit granted its thread real-time priority");
        } else if (!realTime_) {
            Console::log(
                "audio output: runs at ordinary priority, so a busy machine may break "
                "its sound up: " +
                answer.refused);
        }
    }

    // Once, on the device thread: libpulse's main loop, the timer and the first attempt to
    // reach the server.
    void open() {
        loop_ = pa_threaded_mainloop_new();
        if (loop_ != nullptr && pa_threaded_mainloop_start(loop_) < 0) {
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
        timer_ = new QTimer(&context);
        timer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer_, &QTimer::timeout, &context, [this] { tick(); });
        timer_->start(kIdleTickMilliseconds);
        if (loop_ == nullptr) {
            why_ = "libpulse cannot run";
            loseServer();
            return;
        }
        Locked locked(loop_);
        // libpulse's thread sends what the render thread writes: it runs before ordinary
        // threads too, so that a busy machine does not hold the sound back on its way. The
        // request is queued under the lock: libpulse adds it to its loop in two steps, and a
        // loop running between them runs and frees it before the second step.
        pa_threaded_mainloop_once_unlocked(
            loop_,
            [](pa_threaded_mainloop*, void*) {
                if (askForRealTime().byRealtimeKit) {
                    Console::log(
                        "audio output: RealtimeKit granted libpulse's thread real-time "
                        "priority");
                }
            },
            nullptr);
        connectServer();
    }

    void begin(AudioRenderCallback* callback, const std::string& sink, const AudioFormat& format,
               double bufferSeconds) {
        callback_ = callback;
        bufferSeconds_ = bufferSeconds;
        switchTo(sink, format);
    }

    void end() {
        {
            Locked locked(loop_);
            closeStream();
        }
        resting_.store(false);
        serverLatency_.pause(false);
        callback_ = nullptr;
        setTick(kIdleTickMilliseconds);
    }

    void shutdown() {
        end();
        delete timer_;
        timer_ = nullptr;
        if (loop_ != nullptr) {
            // libpulse's thread is stopped (and joined) first: from then on the context and the
            // stream are this thread's alone.
            pa_threaded_mainloop_stop(loop_);
            dropContext();
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }

    // Plays to `sink` (empty: nowhere) at `format` from now on.
    void switchTo(const std::string& sink, const AudioFormat& format) {
        {
            Locked locked(loop_);
            closeStream();
        }
        sink_ = sink;
        format_ = format;
        serverLatency_.follow(sink);
        planes_.assign(format.channelCount, std::vector<float>(kBlockFrames));
        pointers_.clear();
        for (auto& plane : planes_) {
            pointers_.push_back(plane.data());
        }
        interleaved_.assign(std::size_t(kBlockFrames) * format.channelCount, 0.0f);
        restartPacing();
        streamRetryAt_ = HostTime{};
        {
            Locked locked(loop_);
            openStreamIfDue();
        }
        silentTick_ = false;
        resting_.store(false);
        serverLatency_.pause(false);
        setTick(callback_ != nullptr ? kTickMilliseconds : kIdleTickMilliseconds);
    }

    // Any thread: whether the thread rests (see rest()).
    bool resting() const { return resting_.load(); }

    // Any thread.
    Timings takeTimings() {
        Timings taken;
        taken.underflows = underflows_.exchange(0);
        taken.dryWakes = dryWakes_.exchange(0);
        taken.latestWake = double(latestWakeMicros_.exchange(0)) / 1e6;
        return taken;
    }

    // Renders at the full pace again, at once: something may sound.
    void resume() {
        if (!resting_.load() || callback_ == nullptr) {
            return;
        }
        resting_.store(false);
        serverLatency_.pause(false);
        if (stream_ != nullptr && playing_) {
            Locked locked(loop_);
            cork(false);
        }
        restartPacing();
        lastTaken_ = clock_.now();
        silentTick_ = false;
        setTick(kTickMilliseconds);
        tick();
    }

  private:
    // Holds libpulse's main loop lock (nothing without a main loop).
    class Locked {
      public:
        explicit Locked(pa_threaded_mainloop* loop) : loop_(loop) {
            if (loop_ != nullptr) {
                pa_threaded_mainloop_lock(loop_);
            }
        }
        ~Locked() {
            if (loop_ != nullptr) {
                pa_threaded_mainloop_unlock(loop_);
            }
        }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    // ---- The server (every step under the main loop's lock) ----

    // Acts on what libpulse noted since the last wake: a server lost, an answer about the
    // default sink, a stream ended or ready; tries a lost server again when its wait is over,
    // and opens the stream when it is due. What is to be told is told after the lock is let go.
    void serve() {
        std::vector<ServerState> told;
        {
            Locked locked(loop_);
            if (loop_ == nullptr) {
                return;
            }
            if (contextEnded_) {
                loseServer(told);
            }
            if (context_ == nullptr && clock_.now() >= retryAt_) {
                if (state_.connection == OutputConnection::lost) {
                    state_ = ServerState{OutputConnection::reconnecting, std::nullopt, why_, {}};
                    told.push_back(state_);
                }
                connectServer();
            }
            if (answer_) {
                std::optional<Sink> sink = std::move(*answer_);
                answer_.reset();
                if (!(state_.connection == OutputConnection::connected &&
                      state_.defaultSink == sink && answeredOnce_)) {
                    answeredOnce_ = true;
                    state_ = ServerState{OutputConnection::connected, std::move(sink), {}, {}};
                    told.push_back(state_);
                }
            }
            if (streamEnded_) {
                streamStopped(told);
            }
            if (streamStarting_ && streamReady_) {
                streamStarting_ = false;
                streamStarted();
            }
            openStreamIfDue();
        }
        for (ServerState& state : told) {
            report_(std::move(state));
        }
    }

    void connectServer() {
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Kestio");
        if (context_ == nullptr) {
            why_ = "out of memory";
            contextEnded_ = true;
            return;
        }
        pa_context_set_state_callback(
            context_,
            [](pa_context* context, void* self) {
                auto& output = *static_cast<Output*>(self);
                switch (pa_context_get_state(context)) {
                    case PA_CONTEXT_READY:
                        output.serverAnswered();
                        break;
                    case PA_CONTEXT_FAILED:
                    case PA_CONTEXT_TERMINATED:
                        output.why_ = pa_strerror(pa_context_errno(context));
                        output.contextEnded_ = true;
                        break;
                    default:
                        break;
                }
            },
            this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            why_ = pa_strerror(pa_context_errno(context_));
            contextEnded_ = true;
        }
    }

    void dropContext() {
        if (context_ == nullptr) {
            return;
        }
        closeStream();
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }

    // The server went away, or could not be reached: the sound goes nowhere, and the server is
    // tried again after the next wait.
    void loseServer(std::vector<ServerState>& told) {
        contextEnded_ = false;
        dropContext();
        answer_.reset();
        sink_.clear();  // until the server, back, names its default sink again
        restartPacing();
        retryAt_ = clock_.now() + backoff_.next();
        if (state_.connection == OutputConnection::connected) {
            state_ = ServerState{OutputConnection::lost, std::nullopt, why_, {}};
            told.push_back(state_);
        }
    }
    void loseServer() {
        std::vector<ServerState> told;
        loseServer(told);
        for (ServerState& state : told) {
            report_(std::move(state));
        }
    }

    // libpulse's thread: the server answers; ask it for its default sink, and hear of every
    // change of its sinks.
    void serverAnswered() {
        backoff_.reset();
        pa_context_set_subscribe_callback(
            context_,
            [](pa_context* context, pa_subscription_event_type_t, uint32_t, void* self) {
                static_cast<Output*>(self)->askForDefaultSink(context);
            },
            this);
        if (pa_operation* operation = pa_context_subscribe(
                context_,
                pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK),
                nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
        askForDefaultSink(context_);
    }

    // Answers about a context that is no longer the one in use, or no longer ready (libpulse
    // answers the questions still open with nothing when a context ends), are not taken.
    bool current(pa_context* context) const {
        return context == context_ && pa_context_get_state(context) == PA_CONTEXT_READY;
    }

    // libpulse's thread.
    void askForDefaultSink(pa_context* context) {
        if (!current(context)) {
            return;
        }
        pa_operation* operation = pa_context_get_server_info(
            context,
            [](pa_context* asked, const pa_server_info* server, void* self) {
                auto& output = *static_cast<Output*>(self);
                if (!output.current(asked)) {
                    return;
                }
                if (server == nullptr || server->default_sink_name == nullptr ||
                    *server->default_sink_name == '\0') {
                    output.answer_.emplace(std::nullopt);
                    return;
                }
                pa_operation* sinkInfo = pa_context_get_sink_info_by_name(
                    asked, server->default_sink_name,
                    [](pa_context* answering, const pa_sink_info* sink, int last, void* me) {
                        auto& sinkOutput = *static_cast<Output*>(me);
                        if (!sinkOutput.current(answering)) {
                            return;
                        }
                        if (sink != nullptr) {
                            sinkOutput.answer_.emplace(Sink{
                                sink->name != nullptr ? sink->name : "",
                                OutputDeviceInfo{
                                    true,
                                    sink->description != nullptr ? sink->description : sink->name,
                                    sink->sample_spec.channels, double(sink->sample_spec.rate)}});
                        } else if (last < 0) {
                            sinkOutput.answer_.emplace(std::nullopt);  // it went meanwhile
                        }
                    },
                    &output);
                if (sinkInfo != nullptr) {
                    pa_operation_unref(sinkInfo);
                }
            },
            this);
        if (operation != nullptr) {
            pa_operation_unref(operation);
        }
    }

    // ---- The stream (every step under the main loop's lock) ----

    void openStreamIfDue() {
        if (stream_ != nullptr || callback_ == nullptr || sink_.empty() || context_ == nullptr ||
            pa_context_get_state(context_) != PA_CONTEXT_READY || clock_.now() < streamRetryAt_) {
            return;
        }
        pa_sample_spec samples{};
        samples.format = PA_SAMPLE_FLOAT32LE;
        samples.rate = uint32_t(std::lround(format_.sampleRate));
        samples.channels = uint8_t(format_.channelCount);
        const pa_channel_map map = engineChannelMap(format_.channelCount);
        bytesPerFrame_ = int(sizeof(float) * format_.channelCount);
        stream_ = pa_stream_new(context_, "Kestio", &samples, &map);
        if (stream_ == nullptr) {
            streamEnded_ = true;
            return;
        }
        pa_stream_set_state_callback(
            stream_,
            [](pa_stream* stream, void* self) {
                auto& output = *static_cast<Output*>(self);
                switch (pa_stream_get_state(stream)) {
                    case PA_STREAM_READY:
                        output.streamReady_ = true;
                        break;
                    case PA_STREAM_FAILED:
                    case PA_STREAM_TERMINATED:
                        output.streamEnded_ = true;
                        break;
                    default:
                        break;
                }
            },
            this);
        pa_stream_set_underflow_callback(
            stream_,
            [](pa_stream*, void* self) { static_cast<Output*>(self)->underflows_.fetch_add(1); },
            this);
        pa_buffer_attr attributes{};
        attributes.maxlength = uint32_t(-1);
        attributes.tlength =
            uint32_t(std::lround(bufferSeconds_ * format_.sampleRate)) * uint32_t(bytesPerFrame_);
        attributes.prebuf = uint32_t(-1);
        attributes.minreq = uint32_t(-1);
        attributes.fragsize = uint32_t(-1);
        streamStarting_ = true;
        streamOpenedAt_ = clock_.now();
        if (pa_stream_connect_playback(
                stream_, sink_.c_str(), &attributes,
                pa_stream_flags_t(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY), nullptr,
                nullptr) < 0) {
            streamEnded_ = true;
        }
    }

    void streamStarted() {
        const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_);
        bufferBytes_ = granted != nullptr ? int64_t(granted->tlength) : 0;
        serverLatency_.remeasure();  // a new stream moves the sink's latency
        lastTaken_ = clock_.now();
        const double seconds = double(bufferBytes_) / double(bytesPerFrame_) / format_.sampleRate;
        silentTickMilliseconds_ = std::clamp(int(seconds * 1000.0 / 2.0), kTickMilliseconds,
                                             kSilentTickFactor * kTickMilliseconds);
        playing_ = true;
        resting_.store(false);  // rests again, corking this stream, if there is still nothing
        serverLatency_.pause(false);
    }

    // The server ended the stream while it still answers (or it could not be made): the sound
    // goes nowhere until it is opened again, a moment later.
    void streamStopped(std::vector<ServerState>& told) {
        const bool wasPlaying = playing_;
        closeStream();
        restartPacing();
        streamRetryAt_ = clock_.now() + kStreamRetrySeconds;
        if (context_ != nullptr) {
            ServerState failed = state_;
            failed.streamFailure = (wasPlaying ? "the output stopped" : "cannot open the output") +
                                   std::string(" (") + sink_ + ")";
            told.push_back(std::move(failed));
        }
    }

    void closeStream() {
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        streamReady_ = false;
        streamStarting_ = false;
        streamEnded_ = false;
        playing_ = false;
        stalled_ = false;
    }

    // ---- Rendering ----

    void restartPacing() {
        paceStart_ = clock_.now();
        paced_ = 0;
    }

    void tick() {
        serve();
        if (callback_ == nullptr || resting_.load()) {
            lastWake_.reset();
            return;
        }
        noteWake();
        watchDuty();
        if (playing_) {
            if (const std::optional<bool> silent = feed()) {
                const bool slow =
                    *silent && clock_.now() - lateWake_ > kShortTickAfterLateWakeSeconds;
                if (slow != silentTick_) {
                    silentTick_ = slow;
                    setTick(slow ? silentTickMilliseconds_ : kTickMilliseconds);
                }
            }
        } else if (awaitingStream()) {
            // Nothing is rendered while the server makes the stream (a few milliseconds): the
            // engine's clock would otherwise take the blocks paced meanwhile as heard at once,
            // and then have to learn the stream's own latency.
            restartPacing();
        } else {
            pace();
            if (silentTick_) {
                silentTick_ = false;
                setTick(kTickMilliseconds);
            }
        }
        if (callback_->mayRest()) {
            rest();
        }
    }

    // The callback has nothing to play until it is woken: the stream is corked and emptied (so
    // neither the server nor libpulse's thread asks for sound), nothing is rendered, and the
    // thread wakes only to hear the server. A wake (resume()) fills the stream afresh, so the
    // next sound is heard as soon as after any other wake.
    void rest() {
        // Seen resting before the callback is asked again: a wake between the two is either
        // seen by the callback, or finds the thread resting and resumes it.
        resting_.store(true);
        if (!callback_->mayRest()) {
            resting_.store(false);
            return;
        }
        serverLatency_.pause(true);
        if (stream_ != nullptr && playing_) {
            Locked locked(loop_);
            cork(true);
        }
        silentTick_ = false;
        setTick(kRestTickMilliseconds);
    }

    // Under the main loop's lock.
    void cork(bool corked) {
        if (corked) {
            if (pa_operation* flushing = pa_stream_flush(stream_, nullptr, nullptr)) {
                pa_operation_unref(flushing);
            }
        }
        if (pa_operation* corking = pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr)) {
            pa_operation_unref(corking);
        }
    }

    bool awaitingStream() {
        if (stream_ == nullptr || streamEnded_) {
            return false;
        }
        Locked locked(loop_);
        return pa_stream_get_state(stream_) == PA_STREAM_CREATING &&
               clock_.now() - streamOpenedAt_ < kStreamOpenSeconds;
    }

    // How late this wake came: how long after the last one, less the timer's interval (as the
    // last wake left it).
    void noteWake() {
        const HostTime now = clock_.now();
        if (lastWake_ && timer_ != nullptr) {
            const double late = now - *lastWake_ - timer_->interval() / 1000.0;
            const auto micros = int64_t(std::max(late, 0.0) * 1e6);
            int64_t latest = latestWakeMicros_.load();
            while (micros > latest && !latestWakeMicros_.compare_exchange_weak(latest, micros)) {
            }
        }
        lastWake_ = now;
    }

    void setTick(int milliseconds) {
        if (timer_ != nullptr && timer_->interval() != milliseconds) {
            timer_->setInterval(milliseconds);
        }
    }

    // Steps the thread down to ordinary scheduling while rendering takes nearly all of its
    // time, so that it cannot keep the rest of the program off its CPU, and back once rendering
    // has eased (see RealTimeDutyWatch).
    void watchDuty() {
        if (!mayRunInRealTime_) {
            return;
        }
        timespec wall{};
        timespec cpu{};
        clock_gettime(CLOCK_MONOTONIC, &wall);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        const auto seconds = [](const timespec& t) { return double(t.tv_sec) + 1e-9 * t.tv_nsec; };
        switch (duty_.look(seconds(wall), seconds(cpu), realTime_)) {
            case RealTimeDutyWatch::Step::Stay:
                return;
            case RealTimeDutyWatch::Step::StepDown:
                scheduleCallingThreadOrdinarily();
                realTime_ = false;
                Console::log("audio output: rendering took " +
                             std::to_string(std::lround(100.0 * duty_.lastDuty())) +
                             "% of its time over a second; it runs at ordinary priority until "
                             "that eases");
                return;
            case RealTimeDutyWatch::Step::StepUp:
                realTime_ = askForRealTime().refused.empty();
                if (realTime_) {
                    Console::log(
                        "audio output: rendering has eased; it runs at real-time "
                        "priority again");
                }
                return;
        }
    }

    // Fills what the stream has room for. Each block is heard once what is queued before it
    // has played: the stream's buffer, and the latency the sound server reports for the sink it
    // plays to. Says whether everything rendered was silent (nothing when nothing was
    // rendered).
    std::optional<bool> feed() {
        const HostTime now = clock_.now();
        std::size_t writable = 0;
        {
            Locked locked(loop_);
            writable = pa_stream_writable_size(stream_);
        }
        const int64_t free = writable == std::size_t(-1) ? 0 : int64_t(writable);
        auto frames = uint32_t(free / bytesPerFrame_);
        if (frames == 0) {
            // A stream that takes nothing has stalled (or lost its sink without saying so):
            // the time passes as if heard, into nothing, until it takes sound again.
            if (now - lastTaken_ > kStallPeriods * bufferSeconds_) {
                if (!stalled_) {
                    stalled_ = true;
                    restartPacing();
                    paceStart_ = lastTaken_;
                }
                pace();
            }
            return std::nullopt;
        }
        lastTaken_ = now;
        stalled_ = false;
        const int64_t queuedBytes = std::max(bufferBytes_ - free, int64_t(0));
        if (double(queuedBytes) < kLateWakeShare * double(bufferBytes_)) {
            lateWake_ = now;
        }
        if (queuedBytes == 0) {
            dryWakes_.fetch_add(1);
            // The stream ran dry: the server's latency may have moved too. (Only then: a merely
            // late wake on a loaded machine happens every few seconds, and would keep the
            // latency asked at the quick pace.)
            serverLatency_.remeasure();
        }
        HostTime heardAt = now + double(queuedBytes / bytesPerFrame_) / format_.sampleRate +
                           serverLatency_.seconds().value_or(kUnmeasuredServerLatencySeconds);
        bool silent = true;
        while (frames > 0) {
            const uint32_t n = std::min(frames, kBlockFrames);
            callback_->render(RenderBlock{pointers_.data(), format_.channelCount, n,
                                          format_.sampleRate, heardAt, now});
            silent = silent && silentFrames(pointers_.data(), format_.channelCount, n);
            heardAt += double(n) / format_.sampleRate;
            interleaveClipped(pointers_.data(), format_.channelCount, n, interleaved_.data());
            Locked locked(loop_);
            if (pa_stream_write(stream_, interleaved_.data(), std::size_t(n) * bytesPerFrame_,
                                nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                streamEnded_ = true;  // taken at the next wake
                break;
            }
            frames -= n;
        }
        return silent;
    }

    // Without a stream: render what the wall clock says is due, into nothing.
    void pace() {
        const HostTime now = clock_.now();
        auto due = int64_t((now - paceStart_) * format_.sampleRate) - paced_;
        const auto most = int64_t(kMaxPaceSeconds * format_.sampleRate);
        if (due > most) {
            paced_ += due - most;  // after a stall, do not race to catch up
            due = most;
        }
        while (due > 0) {
            const auto n = uint32_t(std::min<int64_t>(due, kBlockFrames));
            callback_->render(RenderBlock{pointers_.data(), format_.channelCount, n,
                                          format_.sampleRate,
                                          paceStart_ + double(paced_) / format_.sampleRate, now});
            paced_ += n;
            due -= n;
        }
    }

    std::function<void(ServerState)> report_;
    PulseSinkLatency& serverLatency_;
    const HostClock& clock_;
    QTimer* timer_ = nullptr;
    bool mayRunInRealTime_ = false;
    bool realTime_ = false;
    RealTimeDutyWatch duty_;
    bool silentTick_ = false;
    // Set by the thread when it rests, read by wakes from other threads.
    std::atomic<bool> resting_{false};
    int silentTickMilliseconds_ = kTickMilliseconds;
    HostTime lateWake_;                 // when a wake last found the stream almost dry
    std::optional<HostTime> lastWake_;  // the last wake that rendered (none while resting)
    // Timings: counted by this thread and libpulse's, taken by any.
    std::atomic<int> underflows_{0};
    std::atomic<int> dryWakes_{0};
    std::atomic<int64_t> latestWakeMicros_{0};
    AudioRenderCallback* callback_ = nullptr;
    double bufferSeconds_ = 0.02;

    // The server.
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool contextEnded_ = false;  // set by libpulse's callbacks, acted on after them
    std::string why_;
    ReconnectBackoff backoff_;
    HostTime retryAt_;
    ServerState state_;  // as last told
    bool answeredOnce_ = false;
    // The server's newest answer about its default sink (none: it has none), not yet taken.
    std::optional<std::optional<Sink>> answer_;

    // The stream.
    std::string sink_;
    AudioFormat format_{48000.0, 2, false};
    pa_stream* stream_ = nullptr;
    bool streamStarting_ = false;
    bool streamReady_ = false;  // set by libpulse's callbacks, acted on after them
    bool streamEnded_ = false;  // likewise
    bool playing_ = false;      // the stream is ready and fed
    HostTime streamRetryAt_;
    HostTime streamOpenedAt_;
    int64_t bufferBytes_ = 0;
    int bytesPerFrame_ = 8;
    std::vector<std::vector<float>> planes_;
    std::vector<float*> pointers_;
    std::vector<float> interleaved_;
    HostTime paceStart_;
    int64_t paced_ = 0;
    HostTime lastTaken_;  // when the stream last took sound
    bool stalled_ = false;
};

PulseAudioDevice::PulseAudioDevice(RunLoop& mainLoop, std::shared_ptr<const HostClock> hostClock,
                                   double bufferSeconds)
    : mainLoop_(mainLoop),
      hostClock_(std::move(hostClock)),
      bufferSeconds_(bufferSeconds),
      thread_(std::make_unique<QThread>()),
      serverLatency_(std::make_unique<PulseSinkLatency>()),
      alive_(std::make_shared<bool>(true)) {
    std::weak_ptr<bool> alive = alive_;
    output_ = std::make_unique<Output>(
        [this, alive, &mainLoop](ServerState state) {
            {
                std::lock_guard lock(firstMutex_);
                if (!first_) {
                    first_ = state;
                    firstArrived_.notify_all();
                }
            }
            mainLoop.post([this, alive, state = std::move(state)] {
                if (!alive.expired()) {
                    take(state);
                }
            });
        },
        *serverLatency_, *hostClock_);
    thread_->setObjectName(QStringLiteral("audio output"));
    output_->context.moveToThread(thread_.get());
    QObject::connect(
        thread_.get(), &QThread::started, thread_.get(),
        [output = output_.get()] { output->scheduleInRealTime(); }, Qt::DirectConnection);
    thread_->start(QThread::TimeCriticalPriority);
    postToThreadOf(&output_->context, [output = output_.get()] { output->open(); });
    // The server answers a local client within milliseconds; a server that hangs is waited for
    // no longer than a moment, and its answer is taken whenever it comes.
    std::optional<ServerState> first;
    {
        std::unique_lock lock(firstMutex_);
        firstArrived_.wait_for(lock, kFirstAnswer, [this] { return first_.has_value(); });
        first = first_;
    }
    if (first) {
        take(*first);
    }
}

HostTime PulseAudioDevice::hostNow() const {
    return hostClock_->now();
}

PulseAudioDevice::Timings PulseAudioDevice::takeTimings() {
    return output_->takeTimings();
}

void PulseAudioDevice::wake() {
    if (output_->resting()) {
        postToThreadOf(&output_->context, [output = output_.get()] { output->resume(); });
    }
}

bool PulseAudioDevice::resting() const {
    return output_->resting();
}

PulseAudioDevice::~PulseAudioDevice() {
    alive_.reset();
    stop();
    runOnThreadOf(output_->context, [this] { output_->shutdown(); });
    thread_->quit();
    thread_->wait();
}

std::optional<std::string> PulseAudioDevice::start(AudioRenderCallback& callback) {
    if (running_) {
        return std::nullopt;
    }
    if (!thread_->isRunning()) {
        return "the audio output thread is not running";
    }
    const std::string sink = current_ ? current_->name : std::string();
    const AudioFormat format = format_;
    runOnThreadOf(output_->context, [this, &callback, sink, format] {
        output_->begin(&callback, sink, format, bufferSeconds_);
    });
    running_ = true;
    return std::nullopt;
}

void PulseAudioDevice::stop() {
    if (!running_) {
        return;
    }
    runOnThreadOf(output_->context, [this] { output_->end(); });
    running_ = false;
}

void PulseAudioDevice::take(const ServerState& state) {
    const OutputConnection was = connection.get();
    if (state.connection != was) {
        switch (state.connection) {
            case OutputConnection::lost:
                Console::log("audio output: the sound server went away (" + state.why +
                             "); sound goes nowhere until it is back, and it is tried again "
                             "until then");
                break;
            case OutputConnection::reconnecting:
                Console::log("audio output: trying the sound server again");
                break;
            case OutputConnection::connected:
                Console::log("audio output: the sound server is back");
                break;
        }
    }
    if (!state.streamFailure.empty() && state.streamFailure != lastStreamFailure_) {
        // Once per cause, not at every retry.
        Console::log("audio output: " + state.streamFailure +
                     "; sound goes nowhere until it is back");
        lastStreamFailure_ = state.streamFailure;
    }
    // The output first: whoever hears that the server is back finds its device published.
    if (state.defaultSink != current_) {
        current_ = state.defaultSink;
        lastStreamFailure_.clear();
        OutputDeviceInfo info;
        if (current_) {
            if (auto format =
                    AudioFormat::make(current_->info.sampleRate, current_->info.channelCount)) {
                format_ = *format;
            }
            info = OutputDeviceInfo{true, current_->info.name, format_.channelCount,
                                    format_.sampleRate};
        }
        defaultOutput.set(info);
        if (running_) {
            const std::string sink = current_ ? current_->name : std::string();
            const AudioFormat format = format_;
            postToThreadOf(&output_->context,
                           [this, sink, format] { output_->switchTo(sink, format); });
        }
    }
    if (state.connection != was) {
        connection.set(state.connection);
    }
}

}  // namespace kestio::platform::audio
