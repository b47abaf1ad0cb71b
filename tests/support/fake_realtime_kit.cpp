#include "support/fake_realtime_kit.h"

#include <sched.h>
#include <sys/resource.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace kestio::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");
const QString kConnection = QStringLiteral("kestio-test-realtimekit");

// Anyone may own any name and send anything: the bus serves this test alone.
constexpr const char* kConfiguration = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

}  // namespace

class PrivateSystemBus::Kit final : public QDBusVirtualObject {
  public:
    explicit Kit(PrivateSystemBus& bus) : bus_(bus) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const auto args = message.arguments();
        if (message.member() == QStringLiteral("Get") && args.size() == 2) {
            const QString property = args.at(1).toString();
            QVariant value;
            if (property == QStringLiteral("RTTimeUSecMax")) {
                value = qlonglong(kRealTimeMicros);
            } else if (property == QStringLiteral("MaxRealtimePriority")) {
                value = 20;
            } else {
                value = -15;  // MinNiceLevel
            }
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            return true;
        }
        Question question;
        if (message.member() == QStringLiteral("MakeThreadRealtimeWithPID") && args.size() == 3) {
            question.process = args.at(0).toULongLong();
            question.thread = args.at(1).toULongLong();
            question.priority = args.at(2).toUInt();
        } else if (message.member() == QStringLiteral("MakeThreadRealtime") && args.size() == 2) {
            question.process = connection.interface()->servicePid(message.service()).value();
            question.thread = args.at(0).toULongLong();
            question.priority = args.at(1).toUInt();
        } else {
            return false;
        }
        rlimit limit{};
        prlimit(pid_t(question.process), RLIMIT_RTTIME, nullptr, &limit);
        question.realTimeLimit = limit.rlim_max;
        QDBusMessage answer;
        if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kRealTimeMicros) {
            answer =
                message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                         QStringLiteral("RLIMIT_RTTIME not set"));
        } else {
            sched_param param{};
            param.sched_priority = int(question.priority);
            if (sched_setscheduler(pid_t(question.thread), SCHED_RR | SCHED_RESET_ON_FORK,
                                   &param) == 0) {
                question.granted = true;
                answer = message.createReply();
            } else {
                answer =
                    message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                             QString::fromLocal8Bit(std::strerror(errno)));
            }
        }
        {
            std::lock_guard lock(bus_.mutex_);
            bus_.questions_.push_back(question);
        }
        connection.send(answer);
        return true;
    }

  private:
    PrivateSystemBus& bus_;
};

PrivateSystemBus::PrivateSystemBus() {
    std::string configuration = kConfiguration;
    const std::string socket = (folder_.path() / "bus").string();
    configuration.replace(configuration.find("@SOCKET@"), 8, socket);
    const auto file = folder_.write("bus.conf", configuration);
    daemon_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        "dbus-daemon", "--nofork", "--config-file=" + file.string(), "--print-address=1"});
    if (!daemon_->started()) {
        failure_ = "dbus-daemon did not start: " + daemon_->failure();
        return;
    }
    std::string printed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (printed.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline &&
           daemon_->running()) {
        for (const auto& chunk : daemon_->take(std::chrono::milliseconds(200))) {
            printed += chunk.bytes;
        }
    }
    if (printed.find('\n') == std::string::npos) {
        failure_ = "dbus-daemon gave no address";
        return;
    }
    address_ = printed.substr(0, printed.find('\n'));
    if (const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        previousAddress_ = previous;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateSystemBus::~PrivateSystemBus() {
    if (kit_ != nullptr) {
        QDBusConnection::disconnectFromBus(kConnection);
        thread_.quit();
        thread_.wait();
        delete kit_;
    }
    if (!address_.empty()) {
        if (previousAddress_) {
            setenv("DBUS_SYSTEM_BUS_ADDRESS", previousAddress_->c_str(), 1);
        } else {
            unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        }
    }
}

bool PrivateSystemBus::serveRealtimeKit() {
    if (!failure_.empty()) {
        return false;
    }
    QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(address_), kConnection);
    kit_ = new Kit(*this);
    kit_->moveToThread(&thread_);
    thread_.start();
    if (!connection.isConnected() || !connection.registerService(kService) ||
        !connection.registerVirtualObject(kPath, kit_)) {
        failure_ = "the fake RealtimeKit could not go on the bus: " +
                   connection.lastError().message().toStdString();
        return false;
    }
    return true;
}

std::vector<PrivateSystemBus::Question> PrivateSystemBus::questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
}

}  // namespace kestio::test
