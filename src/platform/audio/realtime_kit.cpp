#include "platform/audio/realtime_kit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QString>
#include <QVariant>
#include <algorithm>

namespace kestio::platform::audio {

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");
constexpr int kAnswerMilliseconds = 1000;
// What RealtimeKit allows when it does not say.
constexpr qlonglong kDefaultRealTimeMicros = 200000;

// Where the system bus is: what DBUS_SYSTEM_BUS_ADDRESS says, else its usual place. Read at
// each question (libdbus reads it once per process).
QString systemBusAddress() {
    const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    return address.isEmpty() ? QStringLiteral("unix:path=/var/run/dbus/system_bus_socket")
                             : QString::fromLocal8Bit(address);
}

// One connection per question: questions come from several threads and are rare, and a
// connection kept would outlive a bus that went.
class Bus {
  public:
    explicit Bus(pid_t thread)
        : name_(QStringLiteral("kestio-realtimekit-%1").arg(thread)),
          connection_(QDBusConnection::connectToBus(systemBusAddress(), name_)) {}
    ~Bus() { QDBusConnection::disconnectFromBus(name_); }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    QDBusConnection& connection() { return connection_; }

  private:
    QString name_;
    QDBusConnection connection_;
};

std::string whyNot(const QDBusError& error) {
    const QDBusError::ErrorType type = error.type();
    if (type == QDBusError::ServiceUnknown || type == QDBusError::NoServer ||
        type == QDBusError::Disconnected || type == QDBusError::UnknownObject ||
        type == QDBusError::UnknownInterface || type == QDBusError::UnknownMethod) {
        return "RealtimeKit is not there (" + error.message().toStdString() + ")";
    }
    return "RealtimeKit refused (" + error.message().toStdString() + ")";
}

// The most real-time CPU time RealtimeKit lets a process have without blocking, in
// microseconds.
qlonglong realTimeMicrosAllowed(QDBusConnection& bus) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kService << QStringLiteral("RTTimeUSecMax");
    const QDBusMessage answer = bus.call(get, QDBus::Block, kAnswerMilliseconds);
    if (answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty()) {
        const qlonglong allowed =
            qvariant_cast<QDBusVariant>(answer.arguments().first()).variant().toLongLong();
        if (allowed > 0) {
            return allowed;
        }
    }
    return kDefaultRealTimeMicros;
}

}  // namespace

std::string askRealtimeKit(pid_t thread, int priority) {
    Bus bus(thread);
    if (!bus.connection().isConnected()) {
        return "RealtimeKit is not there (no system bus: " +
               bus.connection().lastError().message().toStdString() + ")";
    }
    const auto allowed = rlim_t(realTimeMicrosAllowed(bus.connection()));
    rlimit limit{};
    getrlimit(RLIMIT_RTTIME, &limit);
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > allowed) {
        limit.rlim_max = allowed;
    }
    limit.rlim_cur = std::min(limit.rlim_cur, limit.rlim_max);
    if (setrlimit(RLIMIT_RTTIME, &limit) != 0) {
        return "RealtimeKit was not asked: the real-time CPU time limit cannot be set";
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                      QStringLiteral("MakeThreadRealtimeWithPID"));
    ask << QVariant::fromValue(qulonglong(getpid())) << QVariant::fromValue(qulonglong(thread))
        << QVariant::fromValue(quint32(priority));
    const QDBusMessage answer = bus.connection().call(ask, QDBus::Block, kAnswerMilliseconds);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        return whyNot(QDBusError(answer));
    }
    return {};
}

}  // namespace kestio::platform::audio
