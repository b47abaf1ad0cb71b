#pragma once

#include <QObject>
#include <memory>

#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// The application's run loop: the Qt event loop of the thread that creates it (the GUI
// thread). Timers are precise Qt timers, so they also fire inside modal dialogs; they keep their
// due times in seconds and never fire before them.
class QtRunLoop final : public RunLoop {
  public:
    QtRunLoop();
    ~QtRunLoop() override;

    double now() const override;
    void post(std::function<void()> fn) override;
    TimerHandle after(double seconds, std::function<void()> fn) override;
    TimerHandle every(double seconds, std::function<void()> fn) override;

  private:
    // interval: 0 for a one-shot timer.
    TimerHandle start(double seconds, double interval, std::function<void()> fn);

    std::unique_ptr<QObject> context_;  // owns the timers; lives on the loop's thread
};

}  // namespace kestio::platform
