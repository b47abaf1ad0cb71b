#include "platform/audio/qt_audio_device.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QByteArray>
#include <QMediaDevices>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "platform/audio/pulse_sink_latency.h"
#include "platform/audio/realtime_scheduling.h"
#include "platform/audio/silent_frames.h"
#include "platform/runloop/console.h"
#include "platform/runloop/qt_hand_over.h"

namespace kestio::platform::audio {

namespace {

constexpr int kTickMilliseconds = 4;
// While everything rendered is silence the thread wakes this much less often, though never
// after more than half the sink's buffer has played, and fills the sink just as full at every
// wake. A sound that starts is rendered at the next wake right after what the last wake
// queued, so it is heard as early as at the short tick or earlier, never later: the wait for
// the next wake grows by what the sink has played meanwhile.
constexpr int kSilentTickFactor = 2;
// A wake that finds less than this share of the sink's buffer still queued came late (a loaded
// machine): the thread keeps the short tick for a while, so the sink does not run dry.
constexpr double kLateWakeShare = 1.0 / 6.0;
constexpr double kShortTickAfterLateWakeSeconds = 1.0;
constexpr uint32_t kBlockFrames = 512;
// Pacing without a sink renders at most this much at once after a stall.
constexpr double kMaxPaceSeconds = 0.2;
// What the sound server and hardware are taken to add after the sink's own buffer until the
// server has told its latency.
constexpr double kUnmeasuredServerLatencySeconds = 0.005;
// A sink that takes nothing for this many of its buffer periods has stalled: the render
// thread paces into nothing until it takes sound again, so the clock goes on.
constexpr double kStallPeriods = 2.0;

}  // namespace

// The render thread's side: the sink, the feeding timer and the pacing clock. Every member is
// touched on the device thread only.
class QtAudioDevice::Output {
  public:
    Output(std::function<void(QString)> onFailure, PulseSinkLatency& serverLatency,
           const HostClock& clock)
        : onFailure_(std::move(onFailure)), serverLatency_(serverLatency), clock_(clock) {}

    QObject context;

    // On the device thread as it starts: it renders every block, so it runs before ordinary
    // threads where the system allows (Qt's own priorities leave it an ordinary thread on Linux).
    void scheduleInRealTime() {
        const std::string refused = scheduleCallingThreadInRealTime();
        realTime_ = refused.empty();
        mayRunInRealTime_ = realTime_;
        if (!realTime_) {
            Console::log(
                "audio output: runs at ordinary priority, so a busy machine may break "
                "its sound up: " +
                refused);
        }
    }

    void begin(AudioRenderCallback* callback, const QAudioDevice& device, const AudioFormat& format,
               double bufferSeconds) {
        if (!timer_) {
            timer_ = new QTimer(&context);
            timer_->setTimerType(Qt::PreciseTimer);
            QObject::connect(timer_, &QTimer::timeout, &context, [this] { tick(); });
        }
        callback_ = callback;
        bufferSeconds_ = bufferSeconds;
        switchTo(device, format);
        timer_->start(kTickMilliseconds);
    }

    void end() {
        if (timer_) {
            timer_->stop();
        }
        closeSink();
        callback_ = nullptr;
    }

    void shutdown() {
        end();
        delete timer_;
        timer_ = nullptr;
    }

    void switchTo(const QAudioDevice& device, const AudioFormat& format) {
        closeSink();
        tickSilently(false);
        device_ = device;
        format_ = format;
        serverLatency_.follow(device.id().toStdString());
        planes_.assign(format.channelCount, std::vector<float>(kBlockFrames));
        pointers_.clear();
        for (auto& plane : planes_) {
            pointers_.push_back(plane.data());
        }
        restartPacing();
        if (!device_.isNull() && callback_ != nullptr) {
            openSink();
        }
    }

    // The callback's view of a block of `frames` frames heard at `heardAt`.
    RenderBlock block(uint32_t frames, HostTime heardAt, HostTime now) const {
        return RenderBlock{
            pointers_.data(), format_.channelCount, frames, format_.sampleRate, heardAt, now};
    }

  private:
    void openSink() {
        QAudioFormat format;
        format.setSampleRate(int(format_.sampleRate));
        format.setChannelCount(int(format_.channelCount));
        format.setSampleFormat(QAudioFormat::Float);
        if (!device_.isFormatSupported(format)) {
            format.setSampleFormat(QAudioFormat::Int16);
        }
        sampleFormat_ = format.sampleFormat();
        bytesPerFrame_ = format.bytesPerFrame();
        sink_ = std::make_unique<QAudioSink>(device_, format);
        sink_->setBufferSize(int(std::lround(bufferSeconds_ * format_.sampleRate)) *
                             bytesPerFrame_);
        // Queued, so that the sink is never deleted inside its own signal.
        QObject::connect(
            sink_.get(), &QAudioSink::stateChanged, &context,
            [this, sink = sink_.get()](QAudio::State state) {
                if (sink_.get() == sink && state == QAudio::StoppedState &&
                    sink_->error() != QAudio::NoError) {
                    fail(QStringLiteral("the output stopped"));
                }
            },
            Qt::QueuedConnection);
        io_ = sink_->start();
        serverLatency_.remeasure();  // a new stream moves the sink's latency
        lastTaken_ = clock_.now();
        const double granted = double(std::max(sink_->bufferSize(), qsizetype(0))) /
                               double(bytesPerFrame_) / format_.sampleRate;
        silentTickMilliseconds_ = std::clamp(int(granted * 1000.0 / 2.0), kTickMilliseconds,
                                             kSilentTickFactor * kTickMilliseconds);
        if (io_ == nullptr || sink_->error() != QAudio::NoError) {
            fail(QStringLiteral("cannot open the output"));
        }
    }

    void closeSink() {
        if (sink_) {
            sink_->disconnect(&context);
            sink_->stop();
            sink_.reset();
        }
        io_ = nullptr;
    }

    void fail(const QString& what) {
        closeSink();
        restartPacing();
        onFailure_(what + QStringLiteral(" (") + device_.description() + QStringLiteral(")"));
    }

    void restartPacing() {
        paceStart_ = clock_.now();
        paced_ = 0;
    }

    void tick() {
        if (callback_ == nullptr) {
            return;
        }
        watchDuty();
        if (sink_ && io_ != nullptr) {
            if (const std::optional<bool> silent = feed()) {
                tickSilently(*silent && clock_.now() - lateWake_ > kShortTickAfterLateWakeSeconds);
            }
        } else {
            pace();
            tickSilently(false);
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
                realTime_ = scheduleCallingThreadInRealTime().empty();
                if (realTime_) {
                    Console::log(
                        "audio output: rendering has eased; it runs at real-time "
                        "priority again");
                }
                return;
        }
    }

    // Moves the timer to the longer tick while the sink is fed only silence, and back.
    void tickSilently(bool silent) {
        if (silent == silentTick_ || timer_ == nullptr) {
            return;
        }
        silentTick_ = silent;
        timer_->setInterval(silent ? silentTickMilliseconds_ : kTickMilliseconds);
    }

    // Fills what the sink has room for. Each block is heard once what is queued before it has
    // played: the sink's buffer, what waits to enter it, and the latency the sound server
    // reports for the sink it plays to. Says whether everything rendered was silent (nothing
    // when nothing was rendered).
    std::optional<bool> feed() {
        const HostTime now = clock_.now();
        const qsizetype free = std::max(sink_->bytesFree(), qsizetype(0));
        auto frames = uint32_t(free / bytesPerFrame_);
        if (frames == 0) {
            // A sink that takes nothing has stalled (or lost its device without saying so):
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
        const qsizetype queuedBytes = std::max(sink_->bufferSize() - free, qsizetype(0)) +
                                      std::max(io_->bytesToWrite(), qint64(0));
        if (double(queuedBytes) < kLateWakeShare * double(sink_->bufferSize())) {
            lateWake_ = now;
        }
        if (queuedBytes == 0) {
            // The sink ran dry: the server's latency may have moved too. (Only then: a merely
            // late wake on a loaded machine happens every few seconds, and would keep the
            // latency asked at the quick pace.)
            serverLatency_.remeasure();
        }
        HostTime heardAt = now + double(queuedBytes / bytesPerFrame_) / format_.sampleRate +
                           serverLatency_.seconds().value_or(kUnmeasuredServerLatencySeconds);
        bool silent = true;
        while (frames > 0 && sink_) {
            const uint32_t n = std::min(frames, kBlockFrames);
            callback_->render(block(n, heardAt, now));
            silent = silent && silentFrames(pointers_.data(), format_.channelCount, n);
            heardAt += double(n) / format_.sampleRate;
            const auto bytes = qsizetype(n) * bytesPerFrame_;
            bytes_.resize(bytes);
            const uint32_t channels = format_.channelCount;
            if (sampleFormat_ == QAudioFormat::Float) {
                auto* out = reinterpret_cast<float*>(bytes_.data());
                for (uint32_t i = 0; i < n; ++i) {
                    for (uint32_t c = 0; c < channels; ++c) {
                        out[std::size_t(i) * channels + c] = planes_[c][i];
                    }
                }
            } else {
                auto* out = reinterpret_cast<int16_t*>(bytes_.data());
                for (uint32_t i = 0; i < n; ++i) {
                    for (uint32_t c = 0; c < channels; ++c) {
                        const float v = std::clamp(planes_[c][i], -1.0f, 1.0f);
                        out[std::size_t(i) * channels + c] = int16_t(std::lround(v * 32767.0f));
                    }
                }
            }
            io_->write(bytes_.constData(), bytes);
            frames -= n;
        }
        return silent;
    }

    // Without a sink: render what the wall clock says is due, into nothing.
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
            callback_->render(block(n, paceStart_ + double(paced_) / format_.sampleRate, now));
            paced_ += n;
            due -= n;
        }
    }

    std::function<void(QString)> onFailure_;
    PulseSinkLatency& serverLatency_;
    const HostClock& clock_;
    QTimer* timer_ = nullptr;
    bool mayRunInRealTime_ = false;
    bool realTime_ = false;
    RealTimeDutyWatch duty_;
    bool silentTick_ = false;
    int silentTickMilliseconds_ = kTickMilliseconds;
    HostTime lateWake_;  // when a wake last found the sink almost dry
    AudioRenderCallback* callback_ = nullptr;
    double bufferSeconds_ = 0.02;
    QAudioDevice device_;
    AudioFormat format_{48000.0, 2, false};
    std::unique_ptr<QAudioSink> sink_;
    QIODevice* io_ = nullptr;
    QAudioFormat::SampleFormat sampleFormat_ = QAudioFormat::Float;
    int bytesPerFrame_ = 8;
    std::vector<std::vector<float>> planes_;
    std::vector<float*> pointers_;
    QByteArray bytes_;
    HostTime paceStart_;
    int64_t paced_ = 0;
    HostTime lastTaken_;  // when the sink last took sound
    bool stalled_ = false;
};

QtAudioDevice::QtAudioDevice(RunLoop& mainLoop, std::shared_ptr<const HostClock> hostClock,
                             double bufferSeconds)
    : mainLoop_(mainLoop),
      hostClock_(std::move(hostClock)),
      bufferSeconds_(bufferSeconds),
      devices_(std::make_unique<QMediaDevices>()),
      thread_(std::make_unique<QThread>()),
      serverLatency_(std::make_unique<PulseSinkLatency>()),
      alive_(std::make_shared<bool>(true)) {
    std::weak_ptr<bool> alive = alive_;
    output_ = std::make_unique<Output>(
        [this, alive, &mainLoop](QString what) {
            mainLoop.post([this, alive, what = what.toStdString()] {
                if (alive.expired()) {
                    return;
                }
                if (what != lastFailure_) {  // once per cause, not at every retry
                    Console::log("audio output: " + what + "; sound goes nowhere until it is back");
                    lastFailure_ = what;
                }
                retry_ = mainLoop_.after(1.0, [this] { followDefault(true); });
            });
        },
        *serverLatency_, *hostClock_);
    thread_->setObjectName(QStringLiteral("audio output"));
    output_->context.moveToThread(thread_.get());
    QObject::connect(
        thread_.get(), &QThread::started, thread_.get(),
        [output = output_.get()] { output->scheduleInRealTime(); }, Qt::DirectConnection);
    thread_->start(QThread::TimeCriticalPriority);
    QObject::connect(devices_.get(), &QMediaDevices::audioOutputsChanged, devices_.get(),
                     [this] { followDefault(false); });
    watch_ = mainLoop_.every(1.0, [this] { followDefault(false); });
    followDefault(true);
}

HostTime QtAudioDevice::hostNow() const {
    return hostClock_->now();
}

QtAudioDevice::~QtAudioDevice() {
    alive_.reset();
    retry_.cancel();
    watch_.cancel();
    stop();
    runOnThreadOf(output_->context, [this] { output_->shutdown(); });
    thread_->quit();
    thread_->wait();
}

std::optional<std::string> QtAudioDevice::start(AudioRenderCallback& callback) {
    if (running_) {
        return std::nullopt;
    }
    if (!thread_->isRunning()) {
        return "the audio output thread is not running";
    }
    const QAudioDevice device = current_;
    const AudioFormat format = format_;
    runOnThreadOf(output_->context, [this, &callback, device, format] {
        output_->begin(&callback, device, format, bufferSeconds_);
    });
    running_ = true;
    return std::nullopt;
}

void QtAudioDevice::stop() {
    if (!running_) {
        return;
    }
    runOnThreadOf(output_->context, [this] { output_->end(); });
    running_ = false;
}

void QtAudioDevice::followDefault(bool reopen) {
    const QAudioDevice next = QMediaDevices::defaultAudioOutput();
    const bool changed = next.isNull() != current_.isNull() || next.id() != current_.id();
    if (!changed && !reopen) {
        return;
    }
    if (changed) {
        lastFailure_.clear();
    }
    current_ = next;
    if (!next.isNull()) {
        const QAudioFormat preferred = next.preferredFormat();
        if (auto format = AudioFormat::make(preferred.sampleRate(),
                                            uint32_t(std::max(preferred.channelCount(), 0)))) {
            format_ = *format;
        }
    }
    defaultOutput.set(OutputDeviceInfo{!next.isNull(), next.description().toStdString(),
                                       next.isNull() ? 0u : format_.channelCount,
                                       next.isNull() ? 0.0 : format_.sampleRate});
    if (running_) {
        const AudioFormat format = format_;
        postToThreadOf(&output_->context,
                       [this, next, format] { output_->switchTo(next, format); });
    }
}

}  // namespace kestio::platform::audio
