#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace kestio::platform {

// Ends a subscription when reset or destroyed.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    ~Subscription() { reset(); }
    void reset() {
        if (auto cancel = std::exchange(cancel_, {})) {
            cancel();
        }
    }

private:
    std::function<void()> cancel_;
};

// An observable value of the main thread. Every set() notifies every subscriber, also when
// the value did not change. Subscribers may subscribe or unsubscribe while being notified.
template <class T>
class Published {
public:
    using Observer = std::function<void(const T&)>;

    Published() = default;
    explicit Published(T value) : value_(std::move(value)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return value_; }
    operator const T&() const { return value_; }  // NOLINT(google-explicit-constructor)

    void set(T value) {
        value_ = std::move(value);
        notify();
    }
    Published& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    // Calls `observer` on every later set(); the returned handle ends the subscription.
    [[nodiscard]] Subscription subscribe(Observer observer) {
        const auto id = observers_->nextId++;
        observers_->entries.push_back({id, std::make_shared<Observer>(std::move(observer))});
        std::weak_ptr<Observers> weak = observers_;
        return Subscription([weak, id] {
            if (auto list = weak.lock()) {
                std::erase_if(list->entries, [id](const auto& e) { return e.id == id; });
            }
        });
    }

    std::size_t subscriberCount() const { return observers_->entries.size(); }

private:
    struct Entry {
        std::uint64_t id;
        std::shared_ptr<Observer> fn;
    };
    struct Observers {
        std::uint64_t nextId = 0;
        std::vector<Entry> entries;
    };

    void notify() {
        auto keepAlive = observers_;
        const auto snapshot = keepAlive->entries;
        for (const auto& entry : snapshot) {
            const bool stillSubscribed =
                std::any_of(keepAlive->entries.begin(), keepAlive->entries.end(),
                            [&](const Entry& e) { return e.id == entry.id; });
            if (stillSubscribed) {
                (*entry.fn)(value_);
            }
        }
    }

    T value_{};
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
};

}  // namespace kestio::platform
