#pragma once

#include <QSettings>
#include <filesystem>
#include <memory>

#include "platform/storage/user_defaults.h"

namespace kestio::platform {

// Preferences kept in an INI file through QSettings. Every write is flushed to disk at once
// (QSettings replaces the file atomically), so a crash never loses an earlier write.
//
// Each value is stored so that it reads back with its kind: strings as text, data as a byte
// array, string lists and integer maps inside a small tagged map. A typed read of a key that
// holds another kind (or something written by hand that fits no kind) gives no value.
class SettingsUserDefaults final : public UserDefaults {
  public:
    explicit SettingsUserDefaults(const std::filesystem::path& iniFile);
    ~SettingsUserDefaults() override;
    SettingsUserDefaults(const SettingsUserDefaults&) = delete;
    SettingsUserDefaults& operator=(const SettingsUserDefaults&) = delete;

    // "<XDG config folder>/Kestio/Kestio.ini", with the XDG folder read from the environment
    // at the time of the call ($XDG_CONFIG_HOME, else ~/.config).
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return file_; }

    bool contains(const std::string& key) const override;
    std::optional<std::string> string(const std::string& key) const override;
    std::optional<Bytes> data(const std::string& key) const override;
    std::optional<std::vector<std::string>> stringList(const std::string& key) const override;
    std::optional<UIntMapMap> uintMapMap(const std::string& key) const override;

    void setString(const std::string& key, const std::string& value) override;
    void setData(const std::string& key, const Bytes& value) override;
    void setStringList(const std::string& key, const std::vector<std::string>& value) override;
    void setUIntMapMap(const std::string& key, const UIntMapMap& value) override;
    void remove(const std::string& key) override;

  private:
    void store(const std::string& key, const QVariant& value);
    void flush();

    std::filesystem::path file_;
    std::unique_ptr<QSettings> settings_;
    bool reportedFailure_ = false;
};

}  // namespace kestio::platform
