#include "platform/storage/settings_user_defaults.h"

#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "platform/runloop/console.h"

namespace kestio::platform {

namespace {

// Tags of the wrapped kinds. A wrapped value is a map with exactly one of these keys.
const QString kStringListTag = QStringLiteral("stringList");
const QString kUIntMapMapTag = QStringLiteral("uintMapMap");

QString toQt(const std::string& s) {
    return QString::fromStdString(s);
}

bool hasType(const QVariant& v, QMetaType::Type type) {
    return v.metaType().id() == type;
}

// The single tagged payload of a wrapped value, or an invalid variant.
QVariant unwrap(const QVariant& stored, const QString& tag) {
    if (!hasType(stored, QMetaType::QVariantMap)) {
        return {};
    }
    const QVariantMap map = stored.toMap();
    if (map.size() != 1 || !map.contains(tag)) {
        return {};
    }
    return map.value(tag);
}

}  // namespace

SettingsUserDefaults::SettingsUserDefaults(const std::filesystem::path& iniFile)
    : file_(iniFile),
      settings_(std::make_unique<QSettings>(QString::fromStdString(iniFile.string()),
                                            QSettings::IniFormat)) {}

SettingsUserDefaults::~SettingsUserDefaults() = default;

std::filesystem::path SettingsUserDefaults::defaultFile() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::filesystem::path(base.toStdString()) / "Kestio" / "Kestio.ini";
}

bool SettingsUserDefaults::contains(const std::string& key) const {
    return settings_->contains(toQt(key));
}

std::optional<std::string> SettingsUserDefaults::string(const std::string& key) const {
    const QVariant v = settings_->value(toQt(key));
    if (!hasType(v, QMetaType::QString)) {
        return std::nullopt;
    }
    return v.toString().toStdString();
}

std::optional<Bytes> SettingsUserDefaults::data(const std::string& key) const {
    const QVariant v = settings_->value(toQt(key));
    if (!hasType(v, QMetaType::QByteArray)) {
        return std::nullopt;
    }
    const QByteArray bytes = v.toByteArray();
    return Bytes(bytes.begin(), bytes.end());
}

std::optional<std::vector<std::string>> SettingsUserDefaults::stringList(
    const std::string& key) const {
    const QVariant payload = unwrap(settings_->value(toQt(key)), kStringListTag);
    if (!hasType(payload, QMetaType::QStringList)) {
        return std::nullopt;
    }
    std::vector<std::string> out;
    for (const QString& s : payload.toStringList()) {
        out.push_back(s.toStdString());
    }
    return out;
}

std::optional<UIntMapMap> SettingsUserDefaults::uintMapMap(const std::string& key) const {
    const QVariant payload = unwrap(settings_->value(toQt(key)), kUIntMapMapTag);
    if (!hasType(payload, QMetaType::QVariantMap)) {
        return std::nullopt;
    }
    UIntMapMap out;
    const QVariantMap outer = payload.toMap();
    for (auto it = outer.begin(); it != outer.end(); ++it) {
        if (!hasType(it.value(), QMetaType::QVariantMap)) {
            return std::nullopt;
        }
        auto& inner = out[it.key().toStdString()];
        const QVariantMap innerMap = it.value().toMap();
        for (auto jt = innerMap.begin(); jt != innerMap.end(); ++jt) {
            if (!hasType(jt.value(), QMetaType::ULongLong)) {
                return std::nullopt;
            }
            inner[jt.key().toStdString()] = jt.value().toULongLong();
        }
    }
    return out;
}

void SettingsUserDefaults::setString(const std::string& key, const std::string& value) {
    store(key, QVariant(toQt(value)));
}

void SettingsUserDefaults::setData(const std::string& key, const Bytes& value) {
    store(key, QVariant(QByteArray(reinterpret_cast<const char*>(value.data()),
                                   static_cast<qsizetype>(value.size()))));
}

void SettingsUserDefaults::setStringList(const std::string& key,
                                         const std::vector<std::string>& value) {
    QStringList list;
    for (const auto& s : value) {
        list.append(toQt(s));
    }
    store(key, QVariantMap{{kStringListTag, QVariant(list)}});
}

void SettingsUserDefaults::setUIntMapMap(const std::string& key, const UIntMapMap& value) {
    QVariantMap outer;
    for (const auto& [name, inner] : value) {
        QVariantMap innerMap;
        for (const auto& [field, number] : inner) {
            innerMap.insert(toQt(field), QVariant(static_cast<qulonglong>(number)));
        }
        outer.insert(toQt(name), innerMap);
    }
    store(key, QVariantMap{{kUIntMapMapTag, QVariant(outer)}});
}

void SettingsUserDefaults::remove(const std::string& key) {
    settings_->remove(toQt(key));
    flush();
}

void SettingsUserDefaults::store(const std::string& key, const QVariant& value) {
    settings_->setValue(toQt(key), value);
    flush();
}

void SettingsUserDefaults::flush() {
    settings_->sync();
    if (settings_->status() != QSettings::NoError && !reportedFailure_) {
        reportedFailure_ = true;
        Console::log("Preferences could not be written to " + file_.string());
    }
}

UserDefaults& UserDefaults::standard() {
    static SettingsUserDefaults instance(SettingsUserDefaults::defaultFile());
    return instance;
}

}  // namespace kestio::platform
