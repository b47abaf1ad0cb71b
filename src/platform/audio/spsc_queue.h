#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace kestio::platform::audio {

// A bounded single-producer single-consumer queue of small values. One thread pushes, one
// thread pops; neither ever blocks, locks or allocates after construction.
template <class T>
class SpscQueue {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    explicit SpscQueue(std::size_t capacity)
        : capacity_(capacity + 1), slots_(std::make_unique<T[]>(capacity + 1)) {}
    SpscQueue(const SpscQueue&) = delete;
    SpscQueue& operator=(const SpscQueue&) = delete;

    // Producer side. False when the queue is full.
    bool push(const T& value) noexcept {
        const auto tail = tail_.load(std::memory_order_relaxed);
        const auto next = (tail + 1) % capacity_;
        if (next == head_.load(std::memory_order_acquire)) {
            return false;
        }
        slots_[tail] = value;
        tail_.store(next, std::memory_order_release);
        return true;
    }

    // Producer side. True when a push would fail.
    bool full() const noexcept {
        const auto tail = tail_.load(std::memory_order_relaxed);
        return (tail + 1) % capacity_ == head_.load(std::memory_order_acquire);
    }

    // Consumer side: the oldest value, without removing it.
    const T* front() const noexcept {
        const auto head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return nullptr;
        }
        return &slots_[head];
    }
    // Consumer side. False when the queue is empty.
    bool pop(T& value) noexcept {
        const T* first = front();
        if (first == nullptr) {
            return false;
        }
        value = *first;
        discardFront();
        return true;
    }
    void discardFront() noexcept {
        const auto head = head_.load(std::memory_order_relaxed);
        head_.store((head + 1) % capacity_, std::memory_order_release);
    }

    bool empty() const noexcept {
        return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
    }

  private:
    const std::size_t capacity_;
    std::unique_ptr<T[]> slots_;
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace kestio::platform::audio
