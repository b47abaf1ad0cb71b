#pragma once

#include <optional>
#include <string>
#include <utility>

namespace kestio::platform::media {

// The outcome of a load: a value, or the text of the error that prevented it.
template <class T>
class Loaded {
  public:
    Loaded(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    static Loaded failure(std::string error) {
        Loaded loaded;
        loaded.error_ = error.empty() ? std::string("unknown error") : std::move(error);
        return loaded;
    }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    T&& value() && { return std::move(*value_); }
    const T& operator*() const& { return *value_; }
    T& operator*() & { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }
    // Empty when the load succeeded.
    const std::string& error() const { return error_; }

  private:
    Loaded() = default;
    std::optional<T> value_;
    std::string error_;
};

}  // namespace kestio::platform::media
