#pragma once

#include <QObject>
#include <memory>

#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// The application's run loop: the Qt event loop of the thread that creates it (the GUI
// thread). Timers are precise Qt timers, so they also fire inside modal dialogs; they keep their
// due times in seconds on the host clock and never fire before them. Qt's timers count real
// time, so the host clock is the steady clock (or one that runs with it).
class QtRunLoop final : public RunLoop {
  public:
    // On a steady host clock of its own.
    QtRunLoop();
    explicit QtRunLoop(std::shared_ptr<const HostClock> clock);
    ~QtRunLoop() override;

    void post(std::function<void()> fn) override;
    TimerHandle after(double seconds, std::function<void()> fn) override;
    TimerHandle every(double seconds, std::function<void()> fn) override;

  private:
    // interval: 0 for a one-shot timer.
    TimerHandle start(double seconds, double interval, std::function<void()> fn);

    std::unique_ptr<QObject> context_;  // owns the timers; lives on the loop's thread
};

}  // namespace kestio::platform
