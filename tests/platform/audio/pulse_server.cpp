#include "pulse_server.h"

#include <sys/prctl.h>
#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <cmath>

#include <csignal>
#include <cstdlib>

namespace kestio::test {

namespace {

QStringList toQt(const std::vector<std::string>& arguments) {
    QStringList list;
    for (const auto& a : arguments) {
        list << QString::fromStdString(a);
    }
    return list;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void stopProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    const qint64 pid = process.processId();
    ::kill(pid_t(pid), SIGTERM);
    if (!process.waitForFinished(5000)) {
        ::kill(pid_t(pid), SIGKILL);
        process.waitForFinished(5000);
    }
}

PulseServer::PulseServer() {
    const QString root = folder_.path();
    QDir(root).mkpath(QStringLiteral("runtime"));
    QDir(root).mkpath(QStringLiteral("config"));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    socket_ = (root + QStringLiteral("/runtime/native")).toStdString();
    // Every client of this process (Qt Multimedia included) talks to this server only.
    setenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit().constData(), 1);
    setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
}

PulseServer::~PulseServer() {
    if (keeper_) {
        stopProcess(*keeper_);
    }
    if (server_) {
        stopProcess(*server_);
    }
}

std::unique_ptr<QProcess> PulseServer::startProcess(const std::string& program,
                                                    const std::vector<std::string>& arguments) {
    auto process = std::make_unique<QProcess>();
    // If the test dies before it can stop them, its children go with it.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->setProgram(QString::fromStdString(program));
    process->setArguments(toQt(arguments));
    process->start();
    return process;
}

std::string PulseServer::start() {
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("pacat")).isEmpty()) {
        return "pulseaudio or pacat is not installed";
    }
    server_ = startProcess(
        "pulseaudio",
        {"--daemonize=no", "--exit-idle-time=-1", "-n", "--log-target=stderr", "--log-level=info",
         "--load=module-null-sink sink_name=null rate=48000 channels=2",
         "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket_});
    if (!server_->waitForStarted(10000)) {
        return "pulseaudio did not start: " + server_->errorString().toStdString();
    }
    // The server says when it is ready.
    QByteArray log;
    const auto begun = std::chrono::steady_clock::now();
    while (!log.contains("Daemon startup complete")) {
        if (server_->state() == QProcess::NotRunning || secondsSince(begun) > 20.0) {
            log += server_->readAllStandardError();
            return "pulseaudio did not come up: " + log.right(600).toStdString();
        }
        server_->waitForReadyRead(1000);
        log += server_->readAllStandardError();
    }
    keeper_ = startProcess("pacat", {"--latency-msec=10", "--rate=48000", "--channels=2",
                                     "--format=s16le", "--stream-name=keeper", "/dev/zero"});
    if (!keeper_->waitForStarted(10000)) {
        return "pacat did not start";
    }
    return {};
}

bool PulseServer::pactl(const std::vector<std::string>& arguments) {
    auto process = startProcess("pactl", arguments);
    return process->waitForFinished(10000) && process->exitStatus() == QProcess::NormalExit &&
           process->exitCode() == 0;
}

std::unique_ptr<PulseServer::Recording> PulseServer::record(const std::string& source) {
    auto recording = std::unique_ptr<Recording>(new Recording());
    recording->process_ =
        startProcess("parec", {"--device=" + source, "--rate=48000", "--channels=2",
                               "--format=s16le", "--latency-msec=20", "--raw"});
    recording->process_->waitForStarted(10000);
    return recording;
}

PulseServer::Recording::~Recording() {
    stopProcess(*process_);
}

void PulseServer::Recording::collect() {
    bytes_ += process_->readAllStandardOutput();
}

std::vector<float> PulseServer::Recording::left() {
    collect();
    std::vector<float> samples(std::size_t(bytes_.size()) / 4);
    const auto* frames = reinterpret_cast<const int16_t*>(bytes_.constData());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = float(frames[2 * i]) / 32768.0f;
    }
    return samples;
}

bool PulseServer::Recording::waitForSound(std::size_t frames, float threshold, double wallSeconds) {
    const auto begun = std::chrono::steady_clock::now();
    for (;;) {
        collect();
        const auto samples = left();
        const auto loud = std::count_if(samples.begin(), samples.end(),
                                        [&](float s) { return std::abs(s) > threshold; });
        // About a third of a sine's samples lie below half its peak.
        if (std::size_t(loud) >= frames / 2) {
            return true;
        }
        if (secondsSince(begun) > wallSeconds || process_->state() == QProcess::NotRunning) {
            return false;
        }
        process_->waitForReadyRead(1000);
    }
}

}  // namespace kestio::test
