#include "pulse_server.h"

#include <QDir>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "support/required_server.h"

namespace kestio::test {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The latency the keeper asks for. A null sink plays only as far ahead as the shortest
// latency one of its streams (or of the recordings of its monitor) asks for allows; the keeper
// asks for more than an output's own buffer, so that the output under test sets the server's
// share, as it would on a sound card's sink, rather than the keeper holding it near zero.
constexpr int kKeeperLatencyMilliseconds = 100;

}  // namespace

PulseServer::PulseServer() {
    const QString root = folder_.path();
    QDir(root).mkpath(QStringLiteral("runtime"));
    QDir(root).mkpath(QStringLiteral("config"));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    socket_ = (root + QStringLiteral("/runtime/native")).toStdString();
    // Every client of this process (Qt Multimedia and the tools started here) talks to this
    // server only.
    setenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit().constData(), 1);
    setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
}

PulseServer::~PulseServer() {
    stop();
}

void PulseServer::stop() {
    keeper_.reset();
    server_.reset();
}

std::string PulseServer::start() {
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("pacat")).isEmpty()) {
        return "pulseaudio or pacat is not installed";
    }
    server_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{
            "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--log-target=stderr",
            "--log-level=info", "--load=module-null-sink sink_name=null rate=48000 channels=2",
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket_},
        BackgroundProcess::ErrorOutput::withOutput);
    if (!server_->started()) {
        return "pulseaudio did not start: " + server_->failure();
    }
    // The server says when it is ready.
    std::string log;
    const auto begun = std::chrono::steady_clock::now();
    while (log.find("Daemon startup complete") == std::string::npos) {
        if (!server_->running() || secondsSince(begun) > 20.0) {
            for (const auto& chunk : server_->take(std::chrono::milliseconds(0))) {
                log += chunk.bytes;
            }
            return "pulseaudio did not come up: " +
                   log.substr(log.size() - std::min<std::size_t>(log.size(), 600));
        }
        for (const auto& chunk : server_->take(std::chrono::milliseconds(1000))) {
            log += chunk.bytes;
        }
    }
    keeper_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        "pacat", "--latency-msec=" + std::to_string(kKeeperLatencyMilliseconds), "--rate=48000",
        "--channels=2", "--format=s16le", "--stream-name=keeper", "/dev/zero"});
    if (!keeper_->started()) {
        return "pacat did not start: " + keeper_->failure();
    }
    // A new null sink renders up to about two seconds ahead, and comes down to the keeper's
    // latency at the pace of time: tests of timing start once it has.
    const auto keeping = std::chrono::steady_clock::now();
    for (;;) {
        const auto latency = sinkLatency();
        if (latency && *latency < kKeeperLatencyMilliseconds / 1000.0) {
            return {};
        }
        if (secondsSince(keeping) > 20.0) {
            return "the null sink's latency did not come down";
        }
        server_->take(std::chrono::milliseconds(100));  // the server's log, and a pause
    }
}

std::optional<double> PulseServer::sinkLatency() {
    const auto sinks = runProcess({"pactl", "list", "sinks"}, std::chrono::seconds(10));
    const auto at = sinks.output.find("Latency: ");
    if (!sinks.succeeded() || at == std::string::npos) {
        return std::nullopt;
    }
    return double(std::atoll(sinks.output.c_str() + at + 9)) / 1e6;
}

std::optional<double> PulseServer::meanSinkLatency(int readings) {
    double sum = 0.0;
    for (int k = 0; k < readings; ++k) {
        const auto latency = sinkLatency();
        if (!latency) {
            return std::nullopt;
        }
        sum += *latency;
    }
    return sum / readings;
}

bool PulseServer::pactl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProcess(argv, std::chrono::seconds(10)).succeeded();
}

std::vector<std::string> PulseServer::recorder(const std::string& source, int latencyMilliseconds) {
    return {"parec",
            "--device=" + source,
            "--rate=48000",
            "--channels=2",
            "--format=s16le",
            "--raw",
            "--latency-msec=" + std::to_string(latencyMilliseconds)};
}

std::unique_ptr<PulseServer::Recording> PulseServer::record(const std::string& source) {
    return std::unique_ptr<Recording>(new Recording(source));
}

PulseServer::Recording::Recording(const std::string& source) : process_(recorder(source, 20)) {}

void PulseServer::Recording::collect(std::chrono::milliseconds wait) {
    for (const auto& chunk : process_.take(wait)) {
        if (lastPiece_) {
            const double late = std::chrono::duration<double>(chunk.arrived - *lastPiece_).count() -
                                double(lastPieceBytes_ / 4) / 48000.0;
            latestPiece_ = std::max(latestPiece_, late);
        }
        lastPiece_ = chunk.arrived;
        lastPieceBytes_ = chunk.bytes.size();
        bytes_ += chunk.bytes;
    }
}

double PulseServer::Recording::takeLatestPiece() {
    collect(std::chrono::milliseconds(0));
    return std::exchange(latestPiece_, 0.0);
}

std::vector<float> PulseServer::Recording::left() {
    collect(std::chrono::milliseconds(0));
    std::vector<float> samples(bytes_.size() / 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        int16_t sample = 0;
        std::memcpy(&sample, bytes_.data() + 4 * i, sizeof sample);
        samples[i] = float(sample) / 32768.0f;
    }
    return samples;
}

bool PulseServer::Recording::waitForSound(std::size_t frames, float threshold, double wallSeconds) {
    const auto begun = std::chrono::steady_clock::now();
    for (;;) {
        const auto samples = left();
        const auto loud = std::count_if(samples.begin(), samples.end(),
                                        [&](float s) { return std::abs(s) > threshold; });
        // About a third of a sine's samples lie below half its peak.
        if (std::size_t(loud) >= frames / 2) {
            return true;
        }
        if (secondsSince(begun) > wallSeconds || !process_.running()) {
            return false;
        }
        collect(std::chrono::milliseconds(1000));
    }
}

PulseServer* PulseServerSuite::server_ = nullptr;
std::string PulseServerSuite::why_;

void PulseServerSuite::SetUpTestSuite() {
    server_ = new PulseServer();
    why_ = server_->start();
}

void PulseServerSuite::TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
}

void PulseServerSuite::SetUp() {
    if (!why_.empty()) {
        return serverCannotStart("PulseAudio", why_);
    }
}

bool followWallClockUntil(const std::function<bool()>& done, platform::ManualRunLoop& loop,
                          double wallSeconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(wallSeconds * 1000.0));
    QEventLoop events;
    QTimer wake;
    QObject::connect(&wake, &QTimer::timeout, &events, &QEventLoop::quit);
    wake.start(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        const auto before = std::chrono::steady_clock::now();
        events.exec();
        loop.advance(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count());
    }
    return true;
}

}  // namespace kestio::test
