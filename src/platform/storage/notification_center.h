#pragma once

#include <any>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

struct Notification {
    std::string name;
    std::any object;  // empty when posted without an object
};

// Named notifications between parts of the application that do not know each other.
// Observers run on the main thread: a post made on the main thread reaches every observer
// of the name before post() returns; a post made on another thread is handed to the main
// thread through the run loop and delivered there.
class NotificationCenter {
  public:
    using Observer = std::function<void(const Notification&)>;

    // `mainLoop` carries posts made on other threads; the thread that creates the centre
    // is its main thread.
    explicit NotificationCenter(RunLoop* mainLoop = nullptr);
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The centre of the application, created on first use (on the main thread).
    static NotificationCenter& defaultCenter();

    // Sets the loop that carries posts from other threads (the application does this once
    // at start-up, on the main thread).
    void setMainLoop(RunLoop* mainLoop);

    // Main thread only. Observing ends when the returned handle is reset or destroyed;
    // an observer may end its own or others' observation while being called.
    [[nodiscard]] Subscription addObserver(const std::string& name, Observer observer);

    // Any thread. A post from another thread without a main loop set is dropped.
    void post(const std::string& name, std::any object = {});

    std::size_t observerCount(const std::string& name) const;

  private:
    struct State;
    void deliver(const Notification& notification);

    std::shared_ptr<State> state_;
    std::thread::id mainThread_;
};

}  // namespace kestio::platform
