#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestio::platform {

using Bytes = std::vector<std::uint8_t>;

// Nested maps of non-negative integers, e.g. {"cutGo": {"keyCode": 49, "modifiers": 0}}.
using UIntMapMap = std::map<std::string, std::map<std::string, std::uint64_t>>;

// The application's preferences by key. A typed read gives no value when the key is missing
// or holds a value of another kind. Writes are kept at once.
class UserDefaults {
  public:
    virtual ~UserDefaults() = default;

    virtual bool contains(const std::string& key) const = 0;
    virtual std::optional<std::string> string(const std::string& key) const = 0;
    virtual std::optional<Bytes> data(const std::string& key) const = 0;
    virtual std::optional<std::vector<std::string>> stringList(const std::string& key) const = 0;
    virtual std::optional<UIntMapMap> uintMapMap(const std::string& key) const = 0;

    virtual void setString(const std::string& key, const std::string& value) = 0;
    virtual void setData(const std::string& key, const Bytes& value) = 0;
    virtual void setStringList(const std::string& key, const std::vector<std::string>& value) = 0;
    virtual void setUIntMapMap(const std::string& key, const UIntMapMap& value) = 0;
    virtual void remove(const std::string& key) = 0;

    // The process-wide store of the application (settings file under the XDG config folder).
    static UserDefaults& standard();
};

// A store that lives in memory only; for tests and for callers that must not persist.
class InMemoryUserDefaults final : public UserDefaults {
  public:
    using Value = std::variant<std::string, Bytes, std::vector<std::string>, UIntMapMap>;

    bool contains(const std::string& key) const override { return values_.count(key) != 0; }
    std::optional<std::string> string(const std::string& key) const override {
        return get<std::string>(key);
    }
    std::optional<Bytes> data(const std::string& key) const override { return get<Bytes>(key); }
    std::optional<std::vector<std::string>> stringList(const std::string& key) const override {
        return get<std::vector<std::string>>(key);
    }
    std::optional<UIntMapMap> uintMapMap(const std::string& key) const override {
        return get<UIntMapMap>(key);
    }
    void setString(const std::string& key, const std::string& value) override { set(key, value); }
    void setData(const std::string& key, const Bytes& value) override { set(key, value); }
    void setStringList(const std::string& key, const std::vector<std::string>& value) override {
        set(key, value);
    }
    void setUIntMapMap(const std::string& key, const UIntMapMap& value) override {
        set(key, value);
    }
    void remove(const std::string& key) override {
        values_.erase(key);
        ++writeCount_;
    }

    // Number of writes and removals so far (tests check that a store is written or not).
    int writeCount() const { return writeCount_; }

  private:
    template <class T>
    std::optional<T> get(const std::string& key) const {
        auto it = values_.find(key);
        if (it == values_.end()) {
            return std::nullopt;
        }
        if (const T* v = std::get_if<T>(&it->second)) {
            return *v;
        }
        return std::nullopt;
    }
    void set(const std::string& key, Value value) {
        values_[key] = std::move(value);
        ++writeCount_;
    }

    std::map<std::string, Value> values_;
    int writeCount_ = 0;
};

}  // namespace kestio::platform
