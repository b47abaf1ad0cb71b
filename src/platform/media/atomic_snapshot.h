#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace kestio::platform::media {

// A value shared between the main thread (which replaces it) and reader threads
// (which take it as a whole). The lock is held only to copy the pointer, never while the value
// is built or read, so a reader never waits on a writer's work.
template <class T>
class AtomicSnapshot {
  public:
    AtomicSnapshot() = default;
    explicit AtomicSnapshot(std::shared_ptr<T> value) : value_(std::move(value)) {}
    AtomicSnapshot(const AtomicSnapshot&) = delete;
    AtomicSnapshot& operator=(const AtomicSnapshot&) = delete;

    std::shared_ptr<T> load() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    // The previous value is released outside the lock.
    void store(std::shared_ptr<T> value) {
        {
            std::lock_guard lock(mutex_);
            value_.swap(value);
        }
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> value_;
};

}  // namespace kestio::platform::media
