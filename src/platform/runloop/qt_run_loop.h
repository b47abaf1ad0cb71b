#pragma once

#include <QObject>
#include <memory>

#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// The application's run loop: the Qt event loop of the thread that creates it (the GUI
// thread). Timers are precise Qt timers, so they also fire inside modal dialogs.
class QtRunLoop final : public RunLoop {
public:
    QtRunLoop();
    ~QtRunLoop() override;

    double now() const override;
    void post(std::function<void()> fn) override;
    TimerHandle after(double seconds, std::function<void()> fn) override;
    TimerHandle every(double seconds, std::function<void()> fn) override;

private:
    TimerHandle start(double seconds, bool repeating, std::function<void()> fn);

    std::unique_ptr<QObject> context_;  // owns the timers; lives on the loop's thread
};

}  // namespace kestio::platform
